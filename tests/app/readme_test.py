#!/usr/bin/env python3
"""The README against the program: every key of its keys table is one the
window's accelerator table or the search box's or results list's key handler
answers (with the modifiers that handler tests), the hotkey choices are the
program's, and every example of the Search Tricks text is in its search table.

Usage: readme_test.py SOURCE_DIR
"""
import re
import sys
from pathlib import Path

VK = {"Enter": "VK_RETURN", "Esc": "VK_ESCAPE", "Delete": "VK_DELETE", "Down": "VK_DOWN", "Up": "VK_UP",
      "Page Down": "VK_NEXT", "Backspace": "VK_BACK", "Tab": "VK_TAB", "Space": "VK_SPACE", "`": "VK_OEM_3"}
MODIFIERS = ("Ctrl", "Shift", "Alt", "Win")


def cpp_strings(text):
    """The concatenated wide string literals of text, escapes read."""
    out = []
    for literal in re.findall(r'L"((?:[^"\\]|\\.)*)"', text):
        out.append(re.sub(r'\\(.)', lambda m: {"n": "\n", "t": "\t"}.get(m.group(1), m.group(1)), literal))
    return "".join(out)


def constant(source, name):
    start = source.index(name)
    return source[start:source.index(";\n", start)]


def parse_key(text):
    """'Ctrl+Shift+C' -> ({'Ctrl', 'Shift'}, "'C'"); the key as the C++ code names it."""
    parts = text.split("+")
    mods, key = set(parts[:-1]), parts[-1]
    if key == "" and text.endswith("+"):
        key = "+"
    if not mods <= set(MODIFIERS):
        raise ValueError(f"unknown modifier in {text!r}")
    if key in VK:
        return mods, VK[key]
    if re.fullmatch(r"F\d+", key):
        return mods, "VK_" + key
    if re.fullmatch(r"[A-Z0-9]", key):
        return mods, f"'{key}'"
    raise ValueError(f"unknown key {text!r}")


def accelerators(source):
    """{(frozenset of modifiers, key)} of CreateAccelerators."""
    table = source[source.index("HACCEL CreateAccelerators"):]
    table = table[:table.index("};")]
    keys = set()
    for flags, key in re.findall(r"\{([A-Z_ |]+),\s*([^,]+),\s*kCmd\w+\}", table):
        mods = {"Ctrl"} if "FCONTROL" in flags else set()
        mods |= {"Shift"} if "FSHIFT" in flags else set()
        mods |= {"Alt"} if "FALT" in flags else set()
        keys.add((frozenset(mods), key.strip()))
    return keys


def handler_cases(function_text):
    """{key: the text of its case} of a switch over key codes."""
    cases = {}
    pieces = re.split(r"\n\s*(?:case ([A-Z_0-9']+):|default:)", function_text)
    for key, body in zip(pieces[1::2], pieces[2::2]):
        if key:
            cases[key] = body
    return cases


def function_body(source, signature):
    start = source.index(signature)
    end = source.find("\n}\n", start)
    return source[start:end]


def with_callees(body, source):
    """body and the bodies of the functions of source it calls (one level)."""
    for name in set(re.findall(r"\b([A-Z]\w+)\(", body)):
        match = re.search(r"\n(?:void|bool) " + name + r"\([^)]*\) \{", source)
        if match:
            body += source[match.start():source.find("\n}\n", match.start())]
    return body


def handler_answers(cases, mods, key, source):
    """True when the case of key is there and tests for each modifier asked for
    (in the case or in a function it calls)."""
    if key not in cases:
        return False
    body = with_callees(cases[key], source)
    tests = {"Ctrl": ("CtrlShortcutHeld", "ctrl"), "Shift": ("VK_SHIFT",), "Alt": ("VK_MENU",)}
    return all(any(t in body for t in tests[m]) for m in mods)


def table_rows(readme, heading):
    """The rows (lists of cells) of the first table after heading."""
    start = readme.index(heading)
    rows = []
    for line in readme[start:].splitlines()[1:]:
        if line.startswith("#") and rows:
            break
        if line.startswith("|"):
            cells = [c.strip().replace("\\|", "|") for c in re.split(r"(?<!\\)\|", line.strip())[1:-1]]
            if not set("".join(cells)) <= set("-: "):
                rows.append(cells)
        elif rows:
            break
    return rows[1:]  # without the header


def code_spans(text):
    return [a or b for a, b in re.findall(r"`` (.+?) ``|`([^`]+)`", text)]


def main():
    root = Path(sys.argv[1])
    readme = (root / "README.md").read_text(encoding="utf-8")
    startup = (root / "app/startup.cpp").read_text(encoding="utf-8")
    search_box = (root / "app/search_box.cpp").read_text(encoding="utf-8")
    actions = (root / "app/result_actions.cpp").read_text(encoding="utf-8")
    tray = (root / "app/tray.cpp").read_text(encoding="utf-8")
    tricks = cpp_strings(constant((root / "app/help_texts.cpp").read_text(encoding="utf-8"), "kSearchTricksText"))
    problems = []

    accel = accelerators(startup)
    box = handler_cases(function_body(search_box, "LRESULT CALLBACK SearchBoxProc"))
    list_keys = handler_cases(function_body(actions, "bool OnListKeyDown"))
    list_messages = function_body(actions, "bool HandleResultsListMessage")
    # The list's Alt+Enter arrives as WM_SYSKEYDOWN, answered beside the switch.
    sys_enter = "WM_SYSKEYDOWN" in list_messages and "VK_RETURN" in list_messages
    # Tab and Shift+Tab go to the dialog manager before the accelerators.
    tab = "VK_TAB" in function_body(startup, "bool MovedFocusByTab")
    where_found = {"window": lambda m, k: (frozenset(m), k) in accel or (k == "VK_TAB" and m <= {"Shift"} and tab),
                   "search box": lambda m, k: handler_answers(box, m, k, search_box),
                   "results": lambda m, k: handler_answers(list_keys, m, k, actions) or
                   (m == {"Alt"} and k == "VK_RETURN" and sys_enter)}
    listed_accel = set()
    rows = table_rows(readme, "### Keys and mouse")
    if not rows:
        problems.append("README: no keys table under '### Keys and mouse'")
    for row in rows:
        if len(row) < 3:
            continue
        where = row[1].lower()
        for key_text in code_spans(row[0]):
            try:
                mods, key = parse_key(key_text)
            except ValueError as e:
                problems.append(f"README keys table: {e}")
                continue
            if where not in where_found:
                continue  # mouse and other places are not key handlers
            if not where_found[where](mods, key):
                problems.append(f"README keys table: {key_text} ({row[1]}) is not answered there in the code")
            if where == "window":
                listed_accel.add((frozenset(mods), key))
    for mods, key in sorted(accel - listed_accel, key=str):
        problems.append(f"accelerator {'+'.join(sorted(mods))}+{key} is missing from the README keys table")

    hotkeys = set(re.findall(r'\{L"([^"]+)", [^}]*\}', constant(tray, "kHotkeys[")))
    hotkey_rows = [r for r in rows if r and "hotkey" in r[1].lower()]
    readme_hotkeys = {s for r in hotkey_rows for s in code_spans(r[2])}
    if readme_hotkeys != hotkeys:
        problems.append(f"README hotkey choices {sorted(readme_hotkeys)} differ from the program's {sorted(hotkeys)}")

    search_table = {s for row in table_rows(readme, "### Searching") for s in code_spans(row[0])}
    examples = 0
    for line in tricks.splitlines():
        pieces = re.split(r" {2,}", line.strip())
        if len(pieces) < 2:
            continue
        for example in (e for piece in pieces[:-1] for e in piece.split(", ")):
            examples += 1
            if example not in search_table:
                problems.append(f"Search Tricks example {example!r} is missing from the README search table")
    if examples < 10:
        problems.append(f"only {examples} examples read from the Search Tricks text")

    for p in problems:
        print(p)
    print(f"{len(rows)} key rows, {len(accel)} accelerators, {len(hotkeys)} hotkeys, {examples} search examples: "
          + ("FAILED" if problems else "ok"))
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
