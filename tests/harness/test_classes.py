#!/usr/bin/env python3
"""Prints the classes of a unittest script that hold test cases, one a line:
CMake gives each its own test, so that the classes of a long script wait side
by side (kovra_python_test_classes)."""

import ast
import sys

with open(sys.argv[1], encoding="utf-8") as f:
    for node in ast.parse(f.read()).body:
        if isinstance(node, ast.ClassDef) and any(
                isinstance(item, ast.FunctionDef) and item.name.startswith("test") for item in node.body):
            print(node.name)
