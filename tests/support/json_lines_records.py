#!/usr/bin/env python3
"""Checks the form of a JSON Lines report of kestrane read on standard input
(strict UTF-8, '\\n' line ends alone, each line one object of a known type
with exactly its fields, {"bytes": ...} only for text that is not UTF-8, the
unused inputs after every other object but the summary, one summary, last,
counting the output objects and the unused inputs) and writes each object as
a record ending in NUL, its fields' bytes separated by 0x1F: "output",
output, input ("" for null), outcome, message; "message", message;
"unused_input", input; "summary", exit status, "true"/"false" (dry run).

    json_lines_records.py [--quiet]

--quiet: the report is a quiet one (-q), which has no object for the
outputs up to date or left alone, though its summary counts them.
"""
import base64
import json
import sys

OUTCOMES = ["updated", "appended", "up_to_date", "would_update", "would_append", "no_matching_input",
            "multiple_matching_inputs", "cant_open_input", "cant_open_output", "input_has_no_tag",
            "output_already_tagged", "output_has_no_tag", "update_failed", "append_failed", "out_of_memory",
            "recovered", "would_recover", "recovery_left_alone", "undone", "would_undo", "changed_since",
            "gone_since", "put_back_failed"]
QUIET_LEAVES_OUT = {"up_to_date", "output_already_tagged", "output_has_no_tag"}
FIELDS = {"output": ["type", "output", "input", "outcome", "message"], "message": ["type", "message"],
          "unused_input": ["type", "input"],
          "summary": ["type", "outputs", "counts", "unused_inputs", "dry_run", "exit_status"]}


def text(value):
    """A string, or {"bytes": base64} of text that is not UTF-8, as its bytes."""
    if isinstance(value, str):
        return value.encode("utf-8", "surrogatepass")  # a lone surrogate (Windows) stands for itself
    assert list(value) == ["bytes"], value
    raw = base64.b64decode(value["bytes"], validate=True)
    assert raw.decode("utf-8", "replace").encode() != raw, f"UTF-8 given as bytes: {raw!r}"
    return raw


quiet = sys.argv[1:] == ["--quiet"]
report = sys.stdin.buffer.read()
assert report.endswith(b"\n") and b"\r" not in report, "lines end in '\\n' alone"
objects = [json.loads(line) for line in report.decode("utf-8").split("\n")[:-1]]
counts = dict.fromkeys(OUTCOMES, 0)
unused = 0
records = []
for number, item in enumerate(objects, 1):
    kind = item.get("type")
    assert list(item) == FIELDS.get(kind), f"line {number}: fields {list(item)}"
    assert (kind == "summary") == (number == len(objects)), f"line {number}: the summary comes once, last"
    assert kind in ("unused_input", "summary") or not unused, f"line {number}: {kind} after an unused input"
    if kind == "output":
        counts[item["outcome"]] += 1
        source = b"" if item["input"] is None else text(item["input"])
        records.append([b"output", text(item["output"]), source, item["outcome"].encode(), text(item["message"])])
    elif kind == "message":
        records.append([b"message", text(item["message"])])
    elif kind == "unused_input":
        unused += 1
        records.append([b"unused_input", text(item["input"])])
    else:
        assert list(item["counts"]) == OUTCOMES, item["counts"]
        for outcome, count in item["counts"].items():
            left_out = quiet and outcome in QUIET_LEAVES_OUT
            assert count == counts[outcome] or (left_out and counts[outcome] == 0), f"{item['counts']}: the outputs say {counts}"
        assert item["outputs"] == sum(item["counts"].values()) and type(item["exit_status"]) is int, item
        assert item["unused_inputs"] == unused, f"{item}: {unused} unused inputs told"
        records.append([b"summary", str(item["exit_status"]).encode(), json.dumps(item["dry_run"]).encode()])
sys.stdout.buffer.write(b"".join(b"\x1f".join(record) + b"\0" for record in records))
