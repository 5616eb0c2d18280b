#!/usr/bin/env python3
"""Rewrites the PP-OCR detection and recognition models into graphs that OpenCV 4.6's ONNX importer
loads and runs at any input size, and folds the small per-tensor operations into the convolutions.

    convert_models.py det SOURCE TARGET
    convert_models.py rec SOURCE TARGET
    convert_models.py check det|rec SOURCE TARGET   (compares both graphs on random input, numpy only)

Needs only python3-onnx and python3-numpy. Fails with a message and exit status 1 when a model does not
have the structure this script expects, rather than writing a graph that would misbehave later.

The work is split by job: graph_rewriting.py (the graph and the rewrites both models share),
model_rewrites.py (each model's own rewrites) and reference.py (a numpy interpreter for the check).
"""

import sys

# Run from the source tree: no __pycache__ beside the modules.
sys.dont_write_bytecode = True

try:
    import onnx
except ImportError:
    sys.exit("convert_models: the Python module onnx is missing (Debian package python3-onnx)")

from graph_rewriting import ConversionError
from model_rewrites import convert_det, convert_rec
from reference import check


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
