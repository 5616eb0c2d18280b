#!/usr/bin/env python3
"""Rewrites the PP-OCR detection and recognition models into graphs that OpenCV 4.6's ONNX importer
loads and runs at any input size, and folds the small per-tensor operations into the convolutions.

    convert_models.py det SOURCE TARGET
    convert_models.py rec SOURCE TARGET
    convert_models.py check det|rec SOURCE TARGET   (compares both graphs on random input, numpy only)

Needs only python3-onnx and python3-numpy. Fails with a message and exit status 1 when a model does not
have the structure this script expects, rather than writing a graph that would misbehave later.
"""

import copy
import sys

import numpy as np

try:
    import onnx
    from onnx import helper, numpy_helper, shape_inference
except ImportError:
    sys.exit("convert_models: the Python module onnx is missing (Debian package python3-onnx)")


class ConversionError(Exception):
    pass


def expect(condition, message):
    if not condition:
        raise ConversionError(message)


def attributes(node):
    return {a.name: helper.get_attribute_value(a) for a in node.attribute}


def numpy_type(onnx_type):
    return onnx.mapping.TENSOR_TYPE_TO_NP_TYPE[onnx_type]


class Graph:
    """The model's graph with every constant held as an initializer, and small editing helpers."""

    def __init__(self, model):
        self.model = model
        self.graph = model.graph
        self.consts = {i.name: numpy_helper.to_array(i) for i in self.graph.initializer}
        nodes = []
        for node in self.graph.node:
            if node.op_type == "Constant":
                self.consts[node.output[0]] = numpy_helper.to_array(attributes(node)["value"])
            else:
                nodes.append(node)
        self.nodes = nodes
        self.counter = 0

    def new_const(self, value, base):
        self.counter += 1
        name = f"{base}.c{self.counter}"
        self.consts[name] = np.asarray(value)
        return name

    def new_name(self, base):
        self.counter += 1
        return f"{base}.n{self.counter}"

    def producers(self):
        return {out: node for node in self.nodes for out in node.output}

    def consumers(self):
        result = {}
        for node in self.nodes:
            for name in node.input:
                result.setdefault(name, []).append(node)
        for out in self.graph.output:
            result.setdefault(out.name, []).append(None)
        return result

    def scalar(self, name):
        """The value of a one-element constant, or None."""
        value = self.consts.get(name)
        if value is None or value.size != 1 or value.dtype.kind != "f":
            return None
        return float(value.reshape(-1)[0])

    def rename_input(self, old, new):
        for node in self.nodes:
            for i, name in enumerate(node.input):
                if name == old:
                    node.input[i] = new

    def remove_dead(self):
        while True:
            used = {name for node in self.nodes for name in node.input}
            used.update(out.name for out in self.graph.output)
            alive = [node for node in self.nodes if any(out in used for out in node.output)]
            if len(alive) == len(self.nodes):
                break
            self.nodes = alive
        used = {name for node in self.nodes for name in node.input}
        self.consts = {name: value for name, value in self.consts.items() if name in used}

    def finish(self):
        self.remove_dead()
        del self.graph.node[:]
        for node in self.nodes:
            node.name = node.output[0]  # OpenCV names its layers after the nodes
        self.graph.node.extend(self.nodes)
        del self.graph.initializer[:]
        for name, value in self.consts.items():
            self.graph.initializer.append(numpy_helper.from_array(np.asarray(value), name))
        del self.graph.value_info[:]
        return self.model


# --- rewrites shared by both models ---------------------------------------------------------------


def inline_clip_bounds(g):
    """Clip of opset 11 takes its bounds as inputs; OpenCV 4.6 reads only the attribute form."""
    count = 0
    for i, node in enumerate(g.nodes):
        if node.op_type != "Clip" or len(node.input) == 1:
            continue
        low = g.scalar(node.input[1]) if len(node.input) > 1 and node.input[1] else None
        high = g.scalar(node.input[2]) if len(node.input) > 2 and node.input[2] else None
        expect(low is not None and high is not None, f"Clip {node.output[0]} has bounds that are not constants")
        g.nodes[i] = helper.make_node("Clip", [node.input[0]], list(node.output), min=low, max=high)
        count += 1
    return count


def single_consumer(g, consumers, name):
    users = consumers.get(name, [])
    return users[0] if len(users) == 1 and users[0] is not None else None


def conv_weights(g, conv):
    weight = g.consts[conv.input[1]].astype(np.float32)
    bias = g.consts[conv.input[2]].astype(np.float32) if len(conv.input) > 2 else np.zeros(weight.shape[0], np.float32)
    return weight, bias


def set_conv_weights(g, conv, weight, bias):
    conv.input[1] = g.new_const(weight.astype(np.float32), conv.output[0] + ".w")
    if len(conv.input) > 2:
        conv.input[2] = g.new_const(bias.astype(np.float32), conv.output[0] + ".b")
    else:
        conv.input.append(g.new_const(bias.astype(np.float32), conv.output[0] + ".b"))


def fold_batchnorm(g):
    """Conv followed by BatchNormalization becomes one Conv (the detector runs without OpenCV's fusion)."""
    count = 0
    for _ in range(len(g.nodes)):
        producers, consumers = g.producers(), g.consumers()
        for bn in g.nodes:
            if bn.op_type != "BatchNormalization":
                continue
            conv = producers.get(bn.input[0])
            if conv is None or conv.op_type != "Conv" or single_consumer(g, consumers, conv.output[0]) is not bn:
                continue
            if not all(name in g.consts for name in bn.input[1:5]):
                continue
            gamma, beta, mean, var = (g.consts[name].astype(np.float64) for name in bn.input[1:5])
            scale = gamma / np.sqrt(var + attributes(bn).get("epsilon", 1e-5))
            weight, bias = conv_weights(g, conv)
            set_conv_weights(g, conv, weight * scale.reshape(-1, 1, 1, 1), (bias - mean) * scale + beta)
            g.rename_input(bn.output[0], conv.output[0])
            g.nodes.remove(bn)
            count += 1
            break
        else:
            break
    return count


def drop_multiply_by_one(g):
    count = 0
    for node in list(g.nodes):
        if node.op_type != "Mul":
            continue
        for k in (0, 1):
            if g.scalar(node.input[k]) == 1.0 and node.input[1 - k] not in g.consts:
                g.rename_input(node.output[0], node.input[1 - k])
                g.nodes.remove(node)
                count += 1
                break
    return count


def affine_step(g, node):
    """(scale, shift, input) when the node multiplies, divides or adds by a single constant number."""
    if node is None or node.op_type not in ("Mul", "Add", "Div"):
        return None
    if node.op_type == "Div":
        value = g.scalar(node.input[1])
        if value is None or value == 0 or node.input[0] in g.consts:
            return None
        return (1.0 / value, 0.0, node.input[0])
    for k in (0, 1):
        value = g.scalar(node.input[k])
        if value is not None and node.input[1 - k] not in g.consts:
            return (value, 0.0, node.input[1 - k]) if node.op_type == "Mul" else (1.0, value, node.input[1 - k])
    return None


def rewrite_until_done(g, rewrite_at):
    """Applies rewrite_at(node, producers, consumers) at the first node where it applies (it returns
    True after changing the graph), again and again with fresh maps until it applies nowhere. Returns
    the number of rewrites."""
    count = 0
    while True:
        producers, consumers = g.producers(), g.consumers()
        if not any(rewrite_at(node, producers, consumers) for node in g.nodes):
            return count
        count += 1


def fold_affine_after_conv(g):
    """Conv, then multiply and add by numbers (the learnable affine blocks), becomes one Conv."""

    def at(node, producers, consumers):
        step = affine_step(g, node)
        if step is None:
            return False
        conv = producers.get(step[2])
        if conv is None or conv.op_type != "Conv" or single_consumer(g, consumers, conv.output[0]) is not node:
            return False
        scale, shift, _ = step
        weight, bias = conv_weights(g, conv)
        set_conv_weights(g, conv, weight * scale, bias * scale + shift)
        g.rename_input(node.output[0], conv.output[0])
        g.nodes.remove(node)
        return True

    return rewrite_until_done(g, at)


def is_pointwise_conv(g, node):
    if node is None or node.op_type != "Conv" or node.input[1] not in g.consts:
        return False
    a = attributes(node)
    return g.consts[node.input[1]].shape[2:] == (1, 1) and not any(a.get("pads", [0])) and a.get("group", 1) == 1


def is_conv_on(g, node, name):
    return node is not None and node.op_type == "Conv" and node.input[0] == name and node.input[1] in g.consts


def make_affine(g, source, scale, shift, output):
    """Nodes computing output = source * scale + shift, leaving out a step that does nothing."""
    nodes = []
    if scale != 1.0:
        scaled = output if shift == 0.0 else g.new_name(output)
        nodes.append(helper.make_node("Mul", [source, g.new_const(np.float32(scale), "scale")], [scaled]))
        source = scaled
    if shift != 0.0 or not nodes:
        nodes.append(helper.make_node("Add", [source, g.new_const(np.float32(shift), "shift")], [output]))
    return nodes


def merge_affine_chains(g):
    """Two multiply/add/divide-by-number steps in a row become one multiply and one add (the hard
    swish's division by 6 and the affine block after it, for instance)."""

    def at(node, producers, consumers):
        second = affine_step(g, node)
        if second is None:
            return False
        before = producers.get(second[2])
        first = affine_step(g, before)
        if first is None or single_consumer(g, consumers, before.output[0]) is not node:
            return False
        scale = first[0] * second[0]
        shift = first[1] * second[0] + second[1]
        if scale != 1.0 and shift != 0.0:
            return False  # still a multiply and an add: nothing gained
        index = g.nodes.index(before)
        g.nodes.remove(before)
        g.nodes.remove(node)
        g.nodes[index:index] = make_affine(g, first[2], scale, shift, node.output[0])
        return True

    return rewrite_until_done(g, at)


def move_scale_past_shift(g):
    """x * a + b feeding only convolutions becomes (x + b / a) * a, so that the multiplication can
    fold into the convolutions even where they pad (a shift cannot)."""

    def at(add, producers, consumers):
        step = affine_step(g, add)
        if step is None or add.op_type != "Add":
            return False
        mul = producers.get(step[2])
        scaling = affine_step(g, mul)
        if scaling is None or mul.op_type not in ("Mul", "Div") or scaling[0] == 0.0:
            return False
        users = consumers.get(add.output[0], [])
        if single_consumer(g, consumers, mul.output[0]) is not add or not users or not all(
                is_conv_on(g, user, add.output[0]) for user in users):
            return False
        for conv in users:
            weight, bias = conv_weights(g, conv)
            set_conv_weights(g, conv, weight * scaling[0], bias)
        index = g.nodes.index(mul)
        g.nodes.remove(mul)
        g.nodes.remove(add)
        g.nodes[index:index] = make_affine(g, scaling[2], 1.0, step[1] / scaling[0], add.output[0])
        return True

    return rewrite_until_done(g, at)


def fold_affine_into_next_conv(g):
    """Multiply/add by numbers feeding only convolutions: fold into their weights. A scale folds into
    any convolution (its zero padding stays zero); a shift only into 1x1 convolutions without padding,
    where it is exact."""

    def at(node, producers, consumers):
        step = affine_step(g, node)
        if step is None:
            return False
        scale, shift, source = step
        users = consumers.get(node.output[0], [])
        fits = (lambda user: is_pointwise_conv(g, user)) if shift != 0.0 else (
            lambda user: is_conv_on(g, user, node.output[0]))
        if not users or not all(fits(user) for user in users):
            return False
        for conv in users:
            weight, bias = conv_weights(g, conv)
            set_conv_weights(g, conv, weight * scale, bias + shift * weight.sum(axis=(1, 2, 3)))
        g.rename_input(node.output[0], source)
        g.nodes.remove(node)
        return True

    return rewrite_until_done(g, at)


OWN_PREFIX = "Quillore"  # node types that the engine runs with layers of its own


def own_node(op_type, inputs, outputs, **attrs):
    return helper.make_node(OWN_PREFIX + op_type, inputs, outputs, **attrs)


def is_own(node, op_type):
    return node is not None and node.op_type == OWN_PREFIX + op_type


def own_depthwise_5x5(g):
    """OpenCV 4.6 has a fast path for 3x3 depthwise convolutions only; its 5x5 ones measured 20 to 30
    times slower per weight. The engine runs them with a layer of its own (padding 2, any stride)."""
    count = 0
    for index, conv in enumerate(g.nodes):
        if conv.op_type != "Conv":
            continue
        a = attributes(conv)
        weight = g.consts.get(conv.input[1])
        if weight is None or weight.shape[1:] != (1, 5, 5) or a.get("group", 1) != weight.shape[0]:
            continue
        if a.get("pads", [0] * 4) != [2, 2, 2, 2] or a.get("dilations", [1, 1]) != [1, 1]:
            continue
        weight, bias = conv_weights(g, conv)
        g.nodes[index] = own_node("Depthwise5x5", [conv.input[0], g.new_const(weight, conv.output[0] + ".w"),
                                                   g.new_const(bias.astype(np.float32), conv.output[0] + ".b")],
                                  list(conv.output), strides=a.get("strides", [1, 1]))
        count += 1
    return count


def own_hard_swish(g):
    """x * clip(x + a, 0, 6), then any multiply and add by numbers, becomes one HardSwish node (OpenCV
    runs the spelled-out form as four or five passes over memory). A 5x5 depthwise convolution whose
    only use is the activation takes it in."""

    def at(mul, producers, consumers):
        if mul.op_type != "Mul" or len(mul.input) != 2:
            return False
        for k in (0, 1):
            clip, x = producers.get(mul.input[k]), mul.input[1 - k]
            if clip is None or clip.op_type != "Clip" or single_consumer(g, consumers, clip.output[0]) is not mul:
                continue
            ca = attributes(clip)
            if len(clip.input) > 1 or ca.get("min") != 0.0 or ca.get("max") != 6.0:
                continue
            add = producers.get(clip.input[0])
            step = affine_step(g, add)
            if step is None or add.op_type != "Add" or step[2] != x:
                continue
            if single_consumer(g, consumers, add.output[0]) is not clip or len(consumers.get(x, [])) != 2:
                continue
            scale, offset, output, tail = 1.0, 0.0, mul.output[0], []
            while True:
                user = single_consumer(g, consumers, output)
                after = affine_step(g, user)
                if after is None or after[2] != output:
                    break
                scale, offset = scale * after[0], offset * after[0] + after[1]
                output = user.output[0]
                tail.append(user)
            attrs = {"shift": step[1], "scale": scale, "offset": offset}
            source = producers.get(x)
            index = g.nodes.index(add)  # the pattern's first node: after x, before any use of the result
            for node in [add, clip, mul] + tail:
                g.nodes.remove(node)
            if is_own(source, "Depthwise5x5"):
                source.attribute.extend(helper.make_attribute("act_" + k, v) for k, v in attrs.items())
                g.rename_input(output, x)
                for out in g.graph.output:
                    if out.name == output:
                        out.name = x
            else:
                g.nodes.insert(index, own_node("HardSwish", [x], [output], **attrs))
            return True
        return False

    return rewrite_until_done(g, at)


def own_channel_scale(g):
    """The multiplication of a feature map by one weight per channel (squeeze-and-excitation) becomes
    a ChannelScale node: OpenCV 4.6 broadcasts it element by element, at several times the cost."""
    producers = g.producers()
    count = 0
    for index, mul in enumerate(g.nodes):
        if mul.op_type != "Mul" or any(name in g.consts for name in mul.input):
            continue
        for k in (0, 1):
            gate = producers.get(mul.input[k])
            if gate is None or gate.op_type not in ("HardSigmoid", "Sigmoid"):
                continue
            pooled = producers.get(gate.input[0])
            # gate <- 1x1 convolutions and activations <- GlobalAveragePool: one value per channel
            while pooled is not None and pooled.op_type in ("Conv", "Relu", "Clip", "Add", "Mul", "HardSigmoid"):
                if pooled.op_type == "Conv" and not is_pointwise_conv(g, pooled):
                    break
                pooled = producers.get(pooled.input[0])
            if pooled is None or pooled.op_type != "GlobalAveragePool":
                continue
            g.nodes[index] = own_node("ChannelScale", [mul.input[1 - k], mul.input[k]], list(mul.output))
            count += 1
            break
    return count


def simplify(g):
    # The hard-swish activations stay spelled out (Add, Clip, Mul, Div): OpenCV 4.6's own HardSwish
    # layer measured slower than those four here.
    return {
        "batch norms folded": fold_batchnorm(g),
        "multiplications by one dropped": drop_multiply_by_one(g),
        "affine steps folded into the convolution before": fold_affine_after_conv(g),
        "affine steps merged": merge_affine_chains(g),
        "affine steps folded into the convolution after": fold_affine_into_next_conv(g),
        "scales moved into the convolution after": move_scale_past_shift(g),
        "5x5 depthwise convolutions as own layers": own_depthwise_5x5(g),
        "hard-swish activations as own layers": own_hard_swish(g),
        "channel scalings as own layers": own_channel_scale(g),
    }


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


def evaluate_shape_node(node, inputs):
    """Evaluates the small integer operations of shape computations; None for anything else."""
    op, a = node.op_type, attributes(node)
    if op == "Cast":
        return inputs[0].astype(numpy_type(a["to"]))
    if op == "Slice":
        if len(inputs) > 1:
            starts, ends = inputs[1], inputs[2]
            axes = inputs[3] if len(inputs) > 3 else range(len(starts))
        else:
            starts, ends, axes = a["starts"], a["ends"], a.get("axes", range(len(a["starts"])))
        index = [slice(None)] * inputs[0].ndim
        for start, end, axis in zip(starts, ends, axes):
            index[int(axis)] = slice(int(start), int(min(end, 2**62)))
        return inputs[0][tuple(index)]
    if op == "Concat":
        return np.concatenate(inputs, axis=a["axis"])
    if op == "Unsqueeze":
        out = inputs[0]
        for axis in sorted(a["axes"]):
            out = np.expand_dims(out, axis)
        return out
    if op == "Gather":
        return np.take(inputs[0], inputs[1], axis=a.get("axis", 0))
    return None


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


# --- a plain numpy reference, to check a conversion ------------------------------------------------


def _pool_views(x, kh, kw, sh, sw):
    oh, ow = (x.shape[2] - kh) // sh + 1, (x.shape[3] - kw) // sw + 1
    for i in range(kh):
        for j in range(kw):
            yield i, j, x[:, :, i:i + sh * (oh - 1) + 1:sh, j:j + sw * (ow - 1) + 1:sw]


def _conv(x, weight, bias, a):
    group = a.get("group", 1)
    sh, sw = a.get("strides", [1, 1])
    expect(a.get("dilations", [1, 1]) == [1, 1], "reference: dilated convolution")
    p = a.get("pads", [0, 0, 0, 0])
    x = np.pad(x, ((0, 0), (0, 0), (p[0], p[2]), (p[1], p[3])))
    out_channels, group_channels, kh, kw = weight.shape
    per_group = out_channels // group
    parts = []
    for k in range(group if group_channels > 1 or per_group > 1 else 1):
        if group_channels == 1 and per_group == 1:  # depthwise: all groups at once
            xs, ws = x, weight
            acc = None
            for i, j, view in _pool_views(xs, kh, kw, sh, sw):
                term = view * ws[:, 0, i, j].reshape(1, -1, 1, 1)
                acc = term if acc is None else acc + term
        else:
            xs = x[:, k * group_channels:(k + 1) * group_channels]
            ws = weight[k * per_group:(k + 1) * per_group]
            acc = None
            for i, j, view in _pool_views(xs, kh, kw, sh, sw):
                term = np.einsum("nchw,mc->nmhw", view, ws[:, :, i, j], optimize=True)
                acc = term if acc is None else acc + term
        parts.append(acc)
    out = np.concatenate(parts, axis=1)
    return out + bias.reshape(1, -1, 1, 1) if bias is not None else out


def reference_run(model, x):
    env = {i.name: numpy_helper.to_array(i) for i in model.graph.initializer}
    env[model.graph.input[0].name] = x
    for node in model.graph.node:
        a = attributes(node)
        v = [env[name] if name else None for name in node.input]
        op = node.op_type
        if op == "Constant":
            r = numpy_helper.to_array(a["value"])
        elif op == "Conv":
            r = _conv(v[0], v[1], v[2] if len(v) > 2 else None, a)
        elif op == "ConvTranspose":
            k = a["kernel_shape"]
            expect(a.get("strides") == k and a.get("group", 1) == 1, "reference: unsupported ConvTranspose")
            n, _, h, w = v[0].shape
            r = np.einsum("nchw,cmij->nmhiwj", v[0], v[1]).reshape(n, v[1].shape[1], h * k[0], w * k[1])
            r = r + v[2].reshape(1, -1, 1, 1) if len(v) > 2 else r
        elif op == "BatchNormalization":
            scale = v[1] / np.sqrt(v[4] + a.get("epsilon", 1e-5))
            r = (v[0] - v[3].reshape(1, -1, 1, 1)) * scale.reshape(1, -1, 1, 1) + v[2].reshape(1, -1, 1, 1)
        elif op == "HardSigmoid":
            r = np.clip(a.get("alpha", 0.2) * v[0] + a.get("beta", 0.5), 0, 1)
        elif op == "Relu":
            r = np.maximum(v[0], 0)
        elif op == "Sigmoid":
            r = 1 / (1 + np.exp(-v[0]))
        elif op == "GlobalAveragePool":
            r = v[0].mean(axis=(2, 3), keepdims=True)
        elif op == "AveragePool":
            k, s = a["kernel_shape"], a["strides"]
            r = sum(view for _, _, view in _pool_views(v[0], k[0], k[1], s[0], s[1])) / (k[0] * k[1])
        elif op in ("Mul", "Add", "Sub", "Div", "Pow", "MatMul"):
            r = {"Mul": np.multiply, "Add": np.add, "Sub": np.subtract, "Div": np.divide, "Pow": np.power,
                 "MatMul": np.matmul}[op](v[0], v[1])
        elif op == "Sqrt":
            r = np.sqrt(v[0])
        elif op == OWN_PREFIX + "Depthwise5x5":
            r = _conv(v[0], v[1], v[2], {"group": v[1].shape[0], "pads": [2, 2, 2, 2], "strides": a["strides"]})
            if "act_shift" in a:
                r = r * np.clip(r + a["act_shift"], 0, 6) * a["act_scale"] + a["act_offset"]
        elif op == OWN_PREFIX + "HardSwish":
            r = v[0] * np.clip(v[0] + a["shift"], 0, 6) * a["scale"] + a["offset"]
        elif op == OWN_PREFIX + "ChannelScale":
            r = v[0] * v[1]
        elif op == "Clip":
            low = v[1] if len(v) > 1 and v[1] is not None else a.get("min", -np.inf)
            high = v[2] if len(v) > 2 and v[2] is not None else a.get("max", np.inf)
            r = np.clip(v[0], low, high)
        elif op == "Softmax":
            e = np.exp(v[0] - v[0].max(axis=a["axis"], keepdims=True))
            r = e / e.sum(axis=a["axis"], keepdims=True)
        elif op == "Transpose":
            r = np.transpose(v[0], a["perm"])
        elif op == "Shape":
            r = np.array(v[0].shape, np.int64)
        elif op == "Squeeze":
            r = np.squeeze(v[0], axis=tuple(a["axes"]))
        elif op == "ReduceMean":
            r = v[0].mean(axis=tuple(a["axes"]), keepdims=bool(a.get("keepdims", 1)))
        elif op == "Reshape":
            target = [v[0].shape[i] if d == 0 else int(d) for i, d in enumerate(v[1])]
            r = v[0].reshape(target)
        elif op == "Resize":
            scales = v[2]
            expect(attributes(node).get("mode") == b"nearest" and scales is not None and scales.size == 4,
                   "reference: unsupported Resize")
            r = v[0].repeat(int(scales[2]), axis=2).repeat(int(scales[3]), axis=3)
        else:
            r = evaluate_shape_node(node, v)
            expect(r is not None, f"reference: no implementation of {op}")
        env[node.output[0]] = np.asarray(r).astype(np.float32) if np.asarray(r).dtype == np.float64 else r
    return env[model.graph.output[0].name]


def check(kind, source, target):
    original, converted = onnx.load(source), onnx.load(target)
    rng = np.random.default_rng(7)
    sizes = [(1, 64, 96), (1, 96, 160)] if kind == "det" else [(1, 48, 320), (2, 48, 200), (1, 48, 72)]
    worst = 0.0
    for batch, height, width in sizes:
        x = rng.uniform(-2, 2, (batch, 3, height, width)).astype(np.float32)
        a, b = reference_run(original, x), reference_run(converted, x)
        if kind == "rec":  # the converted recogniser gives [N, classes, 1, frames] scores before the softmax
            b = b[:, :, 0, :].transpose(0, 2, 1)
            e = np.exp(b - b.max(axis=-1, keepdims=True))
            b = e / e.sum(axis=-1, keepdims=True)
        expect(a.shape == b.shape, f"{kind}: output shape {b.shape} instead of {a.shape}")
        if kind == "det":  # compare before the sigmoid: on random input the probabilities are all near 0
            a, b = (np.log(np.maximum(p, 1e-30)) - np.log1p(-np.minimum(p, 1 - 1e-7)) for p in (a, b))
        worst = max(worst, float(np.abs(a - b).max()))
    expect(worst < 1e-3, f"{kind}: the converted model differs from the original by {worst}")
    return worst


def main(argv):
    try:
        if len(argv) == 4 and argv[1] in ("det", "rec"):
            model = onnx.load(argv[2])
            converted, counts = (convert_det if argv[1] == "det" else convert_rec)(model)
            onnx.save(converted, argv[3])
            summary = ", ".join(f"{k} {v}" for k, v in counts.items() if v)
            print(f"convert_models: {argv[1]}: {summary}")
            return 0
        if len(argv) == 5 and argv[1] == "check" and argv[2] in ("det", "rec"):
            worst = check(argv[2], argv[3], argv[4])
            print(f"convert_models: {argv[2]}: converted graph matches the original (largest difference {worst:.2e})")
            return 0
    except ConversionError as error:
        print(f"convert_models: {error}", file=sys.stderr)
        return 1
    except (OSError, onnx.onnx_cpp2py_export.checker.ValidationError, ValueError) as error:
        print(f"convert_models: {error}", file=sys.stderr)
        return 1
    print(__doc__, file=sys.stderr)
    return 2


if __name__ == "__main__":
    sys.exit(main(sys.argv))
