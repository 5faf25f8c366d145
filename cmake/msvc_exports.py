#!/usr/bin/env python3
"""Gives every export of one of our MinGW-built DLLs its MSVC-decorated name.

The installer is built with Microsoft's compiler and calls our classes by
the names that compiler gives them. This script reads which symbols the
library's objects export (their -export directives), asks clang in its
MSVC mode which names a caller of exactly those symbols would import, pairs
the two by their demangled signatures, and writes:

  PREFIX.def            linker input for the DLL: each MSVC name as an alias
                        of our symbol (constructors and assignments through
                        adapters that return `this` as MSVC callers expect)
  PREFIX.msvc.def       the MSVC names alone, for the MSVC import library
  PREFIX_adapters.cpp   those adapters

It fails when an export finds no MSVC name, so no export can go missing.
"""
import argparse
import os
import re
import subprocess
import sys


def run(cmd, **kw):
    return subprocess.run(cmd, check=True, capture_output=True, text=True, **kw).stdout


def exported_symbols(objdump, archive):
    """(name, is_data) of every -export directive in the archive's objects."""
    dump = run([objdump, "-s", "-j", ".drectve", archive])
    text = ""
    for line in dump.splitlines():
        m = re.match(r"^ [0-9a-f]{4,} ((?:[0-9a-f]{2,8} ?){1,4})", line)
        if m:
            text += bytes.fromhex(m.group(1).replace(" ", "")).decode("latin-1")
        elif line.startswith("Contents of section"):
            text += " "
    found = []
    for m in re.finditer(r'-export:(?:"([^"]+)"|([^\s,"]+))(,data)?', text):
        name = m.group(1) or m.group(2)
        item = (name, bool(m.group(3)))
        if item not in found:
            found.append(item)
    return found


def demangle(cxxfilt, names):
    out = run([cxxfilt], input="\n".join(names) + "\n").splitlines()
    return dict(zip(names, out))


def normalize(signature):
    """One spelling for a signature from either demangler: Name(params)."""
    s = re.sub(r"\b(public|private|protected): ", "", signature)
    s = re.sub(r"\b(class|struct|enum|union) ", "", s)
    s = s.replace("__int64", "long long")
    if "(" not in s:
        return s.split()[-1]
    head, params = s.split("(", 1)
    params = re.sub(r"\s*([*&,()])\s*", r"\1", params)
    params = "" if params == "void)" else params.rstrip(")")
    return head.split()[-1] + "(" + params + ")"


def classify(demangled):
    """('ctor'|'dtor'|'assign'|'method'|'function'|'data', class, member)."""
    if "(" not in demangled:
        return "data", None, demangled
    qualified = demangled.split("(", 1)[0]
    if "::" not in qualified:
        return "function", None, qualified
    cls, member = qualified.rsplit("::", 1)
    if member == cls.split("::")[-1]:
        return "ctor", cls, member
    if member == "~" + cls.split("::")[-1]:
        return "dtor", cls, member
    if member == "operator=":
        return "assign", cls, member
    return "method", cls, member


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--archive", required=True)
    ap.add_argument("--header", required=True)
    ap.add_argument("--include", required=True)
    ap.add_argument("--prefix", required=True)
    ap.add_argument("--out-dir", required=True)
    ap.add_argument("--objdump", default="i686-w64-mingw32-objdump")
    ap.add_argument("--cxxfilt", default="c++filt")
    ap.add_argument("--clang", default="clang++")
    ap.add_argument("--nm", default="llvm-nm")
    ap.add_argument("--undname", default="llvm-undname")
    a = ap.parse_args()
    os.makedirs(a.out_dir, exist_ok=True)

    exports = exported_symbols(a.objdump, a.archive)
    if not exports:
        sys.exit(f"{a.archive}: exports nothing")
    names = [n for n, _ in exports]
    plain = {n: d for n, d in exports}
    human = demangle(a.cxxfilt, names)

    # Only the complete-object constructor and destructor are called by
    # users; the base-object variants (C2, D2) have the same signature.
    kept, uses, adapters = {}, [], []
    for name in names:
        if re.search(r"(C2|D2)E", name) and name.startswith("_ZN"):
            continue
        if not name.startswith("_Z") and not plain[name]:
            continue  # an extern "C" function keeps its plain name
        kind, cls, member = classify(human[name] if not plain[name] else name)
        kept[name] = (kind, cls, member)
        if kind == "ctor":
            uses.append(f"new (storage) {cls};")
        elif kind == "dtor":
            uses.append(f"reinterpret_cast<{cls}*>(storage)->~{cls.split('::')[-1]}();")
        elif kind == "assign":
            uses.append(f"*reinterpret_cast<{cls}*>(storage) = *reinterpret_cast<const {cls}*>(storage);")
        elif kind == "method":
            uses.append(f"qf_use(&{cls}::{member});")
        else:
            uses.append(f"qf_use(&{member});")

    use_cpp = os.path.join(a.out_dir, a.prefix + "_use.cpp")
    with open(use_cpp, "w") as f:
        f.write(f'#include "{a.header}"\n'
                "typedef decltype(sizeof 0) qf_size_t;\n"
                "inline void* operator new(qf_size_t, void* p) noexcept { return p; }\n"
                "template <typename T> __declspec(noinline) void qf_use(T) {}\n"
                "namespace qf { struct ExportAccess { static void UseAll(); }; }\n"
                "void qf::ExportAccess::UseAll() {\n"
                "    alignas(8) static char storage[65536];\n"
                + "".join(f"    {u}\n" for u in uses) + "}\n")
    obj = use_cpp[:-4] + ".obj"
    run([a.clang, "--target=i686-pc-windows-msvc", "-ffreestanding", "-fms-extensions", "-fms-compatibility",
         "-std=c++17", "-O0", "-I", a.include, "-c", use_cpp, "-o", obj])
    imported = [l.split()[-1][len("__imp_"):] for l in run([a.nm, "-u", obj]).splitlines()
                if l.split() and l.split()[-1].startswith("__imp_")]
    msvc_human = run([a.undname], input="\n".join(imported) + "\n")
    # llvm-undname echoes each name, then its demangled form, then a blank line.
    lines = [l for l in msvc_human.splitlines() if l.strip()]
    by_signature = {}
    for i in range(0, len(lines) - 1, 2):
        by_signature[normalize(lines[i + 1])] = lines[i]

    def_lines, msvc_lines, missing = [], [], []
    for name, (kind, cls, member) in kept.items():
        sig = normalize(human[name]) if not plain[name] else name
        msvc = by_signature.get(sig)
        if not msvc:
            missing.append(f"{name} ({human[name]})")
            continue
        data = " DATA" if plain[name] else ""
        target = name
        if kind in ("ctor", "assign"):
            target = f"qf_msvc_{kind}_{cls.replace('::', '_')}"
            if kind == "ctor":
                adapters.append(f'extern "C" __attribute__((thiscall)) {cls}* {target}({cls}* self) '
                                f"{{ return new (self) {cls}(); }}")
            else:
                adapters.append(f'extern "C" __attribute__((thiscall)) {cls}* {target}({cls}* self, const {cls}& other) '
                                f"{{ *self = other; return self; }}")
        def_lines.append(f'    "{msvc}"={target}{data}')
        msvc_lines.append(f'    "{msvc}"{data}')
    if missing:
        sys.exit("exports without an MSVC name:\n  " + "\n  ".join(missing))

    dll = a.prefix + ".dll"
    with open(os.path.join(a.out_dir, a.prefix + ".def"), "w") as f:
        f.write(f"LIBRARY {dll}\nEXPORTS\n" + "\n".join(def_lines) + "\n")
    with open(os.path.join(a.out_dir, a.prefix + ".msvc.def"), "w") as f:
        c_functions = [n for n, d in exports if not n.startswith("_Z") and not d]
        f.write(f"LIBRARY {dll}\nEXPORTS\n" + "\n".join(msvc_lines + [f"    {n}" for n in c_functions]) + "\n")
    with open(os.path.join(a.out_dir, a.prefix + "_adapters.cpp"), "w") as f:
        f.write("// Constructors and assignments as MSVC callers call them: `this` in ECX,\n"
                "// and handed back in EAX. Nothing else of the ABI differs for these\n"
                "// classes: no virtual functions, no bases, trivially copyable members.\n"
                f'#include <new>\n#include "{a.header}"\n\n' + "\n".join(adapters) + "\n")


if __name__ == "__main__":
    main()
