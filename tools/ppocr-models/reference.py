"""A plain numpy interpreter of the operations in both models, original and converted, to check that a
conversion computes what the original does."""

import numpy as np
import onnx
from onnx import numpy_helper

from graph_rewriting import OWN_PREFIX, attributes, evaluate_shape_node, expect


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
