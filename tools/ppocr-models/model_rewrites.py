"""The rewrites particular to each PP-OCR model: the detector, and the recogniser whose shape
computations are fixed for any input width."""

import copy

import numpy as np
from onnx import helper, shape_inference

from graph_rewriting import Graph, attributes, evaluate_shape_node, expect, inline_clip_bounds, simplify


# --- the detection model ---------------------------------------------------------------------------


def convert_det(model):
    g = Graph(model)
    clips = inline_clip_bounds(g)
    expect(clips > 0, "detection model: no Clip with bound inputs found; is this the PP-OCRv4 detector?")
    counts = {"clips rewritten": clips}
    counts.update(simplify(g))
    expect(not any(n.op_type in ("Shape", "Reshape") for n in g.nodes), "detection model: unexpected shape ops")
    return g.finish(), counts


# --- the recognition model -------------------------------------------------------------------------


def known_shapes(model):
    inferred = shape_inference.infer_shapes(model)
    shapes = {}
    for info in list(inferred.graph.value_info) + list(inferred.graph.input) + list(inferred.graph.output):
        tensor = info.type.tensor_type
        if not tensor.HasField("shape"):
            continue
        dims = [d.dim_value if d.HasField("dim_value") else None for d in tensor.shape.dim]
        if None not in dims:
            shapes[info.name] = dims
    return shapes


def pin_input(model, batch, width):
    pinned = copy.deepcopy(model)
    dims = pinned.graph.input[0].type.tensor_type.shape.dim
    dims[0].dim_value = batch
    dims[3].dim_value = width
    return pinned


def fold_shape_chains(model, batch, width):
    """For an input of the given size, replaces Shape and the Cast/Slice/Concat chains after it with
    constants. Returns the graph and the shape each Reshape received."""
    g = Graph(pin_input(model, batch, width))
    for _ in range(32):
        if not any(n.op_type == "Shape" for n in g.nodes):
            break
        shapes = known_shapes(g.finish())
        g = Graph(g.model)
        folded = False
        for node in list(g.nodes):
            value = None
            if node.op_type == "Shape" and node.input[0] in shapes:
                value = np.array(shapes[node.input[0]], np.int64)
            elif node.op_type != "Shape" and node.input and all(name in g.consts for name in node.input):
                value = evaluate_shape_node(node, [g.consts[name] for name in node.input])
            if value is not None:
                g.consts[node.output[0]] = np.asarray(value)
                g.nodes.remove(node)
                folded = True
        expect(folded, "recognition model: a Shape node could not be resolved")
    expect(not any(n.op_type == "Shape" for n in g.nodes), "recognition model: Shape nodes remain")
    targets = {n.output[0]: g.consts[n.input[1]].copy() for n in g.nodes if n.op_type == "Reshape"}
    return g, targets


def reshape_mask(small, large):
    """Compares one Reshape's target at batch 1 and 2 and two widths: a position that follows the
    batch copies the input's dimension (0), one that follows the width is inferred (-1)."""
    expect(len(small) == len(large), "recognition model: a Reshape changes rank with the input size")
    mask = []
    for a, b in zip(small, large):
        if a == b:
            mask.append(int(a))
        elif (a, b) == (1, 2):
            mask.append(0)
        else:
            mask.append(-1)
    expect(mask.count(-1) <= 1, f"recognition model: a Reshape depends on more than one size: {mask}")
    return np.array(mask, np.int64)


def rewrite_attention_split(g, squeeze, producers):
    """Squeeze(Slice(Transpose(Reshape(qkv, [0, -1, 3, heads, dim]), [2, 0, 3, 1, 4]))) takes the
    i-th of query, key and value. Written instead as a slice of the last axis of qkv, a Reshape to
    [0, 0, heads, dim] and a Transpose, which keep the batch and sequence dimensions."""
    slice_node = producers.get(squeeze.input[0])
    if slice_node is None or slice_node.op_type != "Slice":
        return None
    transpose = producers.get(slice_node.input[0])
    reshape = producers.get(transpose.input[0]) if transpose is not None else None
    if transpose is None or reshape is None or reshape.op_type != "Reshape":
        return None
    s = attributes(slice_node)
    expect(attributes(transpose).get("perm") == [2, 0, 3, 1, 4] and s.get("axes") == [0],
           f"recognition model: unexpected attention layout at {squeeze.output[0]}")
    part = s["starts"][0]
    target = g.consts[reshape.input[1]]
    heads, dim = int(target[3]), int(target[4])
    qkv = reshape.input[0]
    sliced, reshaped = g.new_name(squeeze.output[0]), g.new_name(squeeze.output[0])
    return [
        helper.make_node("Slice", [qkv], [sliced], axes=[2], starts=[part * heads * dim],
                         ends=[(part + 1) * heads * dim]),
        helper.make_node("Reshape", [sliced, g.new_const(np.array([0, 0, heads, dim], np.int64), "shape")],
                         [reshaped]),
        helper.make_node("Transpose", [reshaped], list(squeeze.output), perm=[0, 2, 1, 3]),
    ]


def rewrite_for_any_width(g, shapes):
    """Operations whose OpenCV 4.6 form fixes the sequence length at load time, or broadcasts a
    vector along the wrong axis, rewritten into forms that follow the input."""
    producers = g.producers()
    out = []
    counts = {"squeeze": 0, "reduce mean": 0, "vector multiply": 0, "vector add": 0}
    for node in g.nodes:
        a = attributes(node)
        if node.op_type == "Squeeze":
            replacement = rewrite_attention_split(g, node, producers)
            if replacement is None:
                rank = len(shapes[node.input[0]])
                axes = [axis % rank for axis in a["axes"]]
                keep = rank - len(axes) - 1
                expect(min(axes) >= keep, f"recognition model: cannot rewrite Squeeze {node.output[0]}")
                shape = g.new_const(np.array([0] * keep + [-1], np.int64), "shape")
                replacement = [helper.make_node("Reshape", [node.input[0], shape], list(node.output))]
            out.extend(replacement)
            counts["squeeze"] += 1
            continue
        if node.op_type == "ReduceMean":
            shape = shapes[node.input[0]]
            expect(a.get("axes") in ([-1], [len(shape) - 1]) and a.get("keepdims", 1) == 1,
                   f"recognition model: unexpected ReduceMean {node.output[0]}")
            # The mean repeated across the axis, so the subtraction after it needs no broadcasting.
            width = shape[-1]
            matrix = g.new_const(np.full((width, width), 1.0 / width, np.float32), "mean")
            out.append(helper.make_node("MatMul", [node.input[0], matrix], list(node.output)))
            counts["reduce mean"] += 1
            continue
        if node.op_type in ("Mul", "Add"):
            vector = [k for k in (0, 1) if node.input[k] in g.consts and g.consts[node.input[k]].ndim == 1
                      and g.consts[node.input[k]].size > 1]
            if vector:
                value = g.consts[node.input[vector[0]]].astype(np.float32)
                other = node.input[1 - vector[0]]
                if node.op_type == "Mul":
                    diagonal = g.new_const(np.diag(value), "scale")
                    out.append(helper.make_node("MatMul", [other, diagonal], list(node.output)))
                    counts["vector multiply"] += 1
                else:
                    out.append(helper.make_node("Add", [other, g.new_const(value, "bias")], list(node.output)))
                    counts["vector add"] += 1
                continue
        out.append(node)
    g.nodes = out
    return counts


def head_as_convolution(g):
    """The classifier at the end, Reshape to [N, C, T], Transpose to [N, T, C], MatMul by [C, K] and
    Add of [K], becomes a 1x1 convolution on the [N, C, 1, T] features, giving [N, K, 1, T]: OpenCV
    runs the convolution several times faster than its matrix product on three-dimensional input,
    and its Permute is slow too, so the engine turns the [K, T] scores around itself."""
    producers = g.producers()
    output = g.graph.output[0]
    add = producers.get(output.name)
    matmul = producers.get(add.input[0]) if add is not None and add.op_type == "Add" else None
    transpose = producers.get(matmul.input[0]) if matmul is not None and matmul.op_type == "MatMul" else None
    reshape = producers.get(transpose.input[0]) if transpose is not None and transpose.op_type == "Transpose" else None
    expect(reshape is not None and reshape.op_type == "Reshape" and attributes(transpose).get("perm") == [0, 2, 1]
           and matmul.input[1] in g.consts and add.input[1] in g.consts,
           "recognition model: the classifier at the end is not Reshape, Transpose, MatMul, Add")
    weight = g.consts[matmul.input[1]].astype(np.float32)  # [C, K]
    bias = g.consts[add.input[1]].astype(np.float32)  # [K]
    expect(weight.ndim == 2 and bias.shape == (weight.shape[1],), "recognition model: unexpected classifier shapes")
    classes, channels = weight.shape[1], weight.shape[0]
    conv = helper.make_node("Conv", [reshape.input[0], g.new_const(weight.T.reshape(classes, channels, 1, 1), "head.w"),
                                     g.new_const(bias, "head.b")], ["scores"], kernel_shape=[1, 1])
    index = g.nodes.index(reshape)
    for node in (reshape, transpose, matmul, add):
        g.nodes.remove(node)
    g.nodes.insert(index, conv)
    output.name = "scores"
    dims = output.type.tensor_type.shape.dim
    del dims[:]
    for value in ("batch", classes, 1, "frames"):
        dims.add().dim_param = value if isinstance(value, str) else ""
        if not isinstance(value, str):
            dims[-1].dim_value = value
    return 1


def drop_final_softmax(g):
    """The engine needs only the best class of each frame and that class's probability, which it
    computes itself for the frames it keeps: the softmax over all 6625 classes of every frame goes."""
    producers = g.producers()
    output = g.graph.output[0]
    softmax = producers.get(output.name)
    expect(softmax is not None and softmax.op_type == "Softmax" and attributes(softmax).get("axis") in (2, -1),
           "recognition model: the output is not a softmax over the classes")
    output.name = softmax.input[0]
    g.nodes.remove(softmax)
    return 1


def convert_rec(model):
    small, small_targets = fold_shape_chains(model, 1, 320)
    _, large_targets = fold_shape_chains(model, 2, 480)
    expect(small_targets.keys() == large_targets.keys(), "recognition model: Reshape nodes differ by size")
    for node in small.nodes:
        if node.op_type == "Reshape":
            name = node.output[0]
            node.input[1] = small.new_const(reshape_mask(small_targets[name], large_targets[name]), "shape")
    shapes = known_shapes(small.finish())
    g = Graph(small.model)
    counts = {"reshapes generalised": len(small_targets)}
    counts.update(rewrite_for_any_width(g, shapes))
    counts.update(simplify(g))
    counts["final softmax dropped"] = drop_final_softmax(g)
    counts["classifier as a convolution"] = head_as_convolution(g)
    expect(counts["reduce mean"] > 0 and counts["squeeze"] > 0, "recognition model: not the expected SVTR neck")
    # OpenCV sizes its layers once from the declared input; any width then follows at run time.
    dims = g.graph.input[0].type.tensor_type.shape.dim
    dims[0].dim_value, dims[3].dim_value = 1, 320
    return g.finish(), counts
