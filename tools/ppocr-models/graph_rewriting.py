"""The graph editing under the PP-OCR model conversion: the model's graph held as nodes and constants,
the rewrites that both models go through (folding per-tensor arithmetic into the convolutions, the
engine's own layers), and the evaluation of small shape computations."""

import numpy as np
import onnx
from onnx import helper, numpy_helper


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


# --- small shape computations -------------------------------------------------------------------


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
