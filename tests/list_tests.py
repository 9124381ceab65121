#!/usr/bin/env python3
"""Lists the GoogleTest cases of one test source, one full name per line.

CTest gets its cases from here instead of from running each executable with --gtest_list_tests:
under the emulated 32-bit Wine a listing process can hang on exit, and a hung listing loses a
whole file of tests. Handles TEST, TEST_F, and TEST_P with INSTANTIATE_TEST_SUITE_P over
testing::Values(...), which are the forms the tests use.
"""
import re
import sys


def split_top_level(text):
    """Splits a comma-separated argument list, ignoring commas inside brackets and strings."""
    items, depth, current, quote = [], 0, "", None
    for ch in text:
        if quote:
            current += ch
            if ch == quote:
                quote = None
            continue
        if ch in "\"'":
            quote = ch
        elif ch in "([{":
            depth += 1
        elif ch in ")]}":
            depth -= 1
        elif ch == "," and depth == 0:
            items.append(current.strip())
            current = ""
            continue
        current += ch
    if current.strip():
        items.append(current.strip())
    return items


def balanced_call(source, start):
    """Returns the text inside the parentheses that open at source[start]."""
    depth = 0
    for index in range(start, len(source)):
        if source[index] == "(":
            depth += 1
        elif source[index] == ")":
            depth -= 1
            if depth == 0:
                return source[start + 1:index]
    raise ValueError("unbalanced parentheses")


def main(path):
    source = open(path, encoding="utf-8").read()
    # Line comments go; "//" inside a string literal (an address) stays.
    source = re.sub(r'("(?:\\.|[^"\\\n])*")|//[^\n]*', lambda m: m.group(1) or "", source)
    cases = []
    for kind, suite, name in re.findall(r"^\s*(TEST|TEST_F|TEST_P)\s*\(\s*(\w+)\s*,\s*(\w+)\s*\)", source, re.M):
        if kind != "TEST_P":
            cases.append(f"{suite}.{name}")
            continue
        for match in re.finditer(r"INSTANTIATE_TEST_SUITE_P\s*\(", source):
            arguments = split_top_level(balanced_call(source, match.end() - 1))
            if len(arguments) < 3 or arguments[1] != suite:
                continue
            generator = arguments[2]
            values = re.match(r"(?:::)?(?:testing::)?Values\s*\(", generator)
            if not values:
                sys.exit(f"{path}: unsupported parameter generator for {suite}: {generator}")
            count = len(split_top_level(balanced_call(generator, values.end() - 1)))
            cases.extend(f"{arguments[0]}/{suite}.{name}/{index}" for index in range(count))
    print("\n".join(cases))


if __name__ == "__main__":
    main(sys.argv[1])
