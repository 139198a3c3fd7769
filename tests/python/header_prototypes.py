"""The exported prototypes as the C headers declare them, in the ctypes table's notation."""

import pathlib
import re

ROOT = pathlib.Path(__file__).resolve().parents[2]
HEADERS = [ROOT / "include" / "kqfw" / name for name in ("kqfw.h", "kqfw_ext.h", "kqsim.h")]

SCALARS = {
    "void": "None", "int32_t": "c_int32", "uint32_t": "c_uint32", "int16_t": "c_int16",
    "uint16_t": "c_uint16", "uint64_t": "c_uint64", "int64_t": "c_int64",
    "uintptr_t": "c_size_t", "double": "c_double", "StatusCode": "c_uint32",
}
# Buffers travel as plain addresses so numpy arrays and bytes can be handed over directly.
BUFFERS = {"uint8_t": "c_void_p", "uint16_t": "c_void_p", "void": "c_void_p",
           "IpContext": "c_void_p", "char": "c_char_p"}


def ctype(declaration: str) -> str:
    text = re.sub(r"\bconst\b", "", declaration).strip()
    stars = text.count("*")
    base = text.replace("*", " ").split()[0]
    if stars == 0:
        return SCALARS.get(base, base)
    if stars == 2:
        return "POINTER(c_void_p)"
    if base in BUFFERS:
        return BUFFERS[base]
    return f"POINTER({SCALARS.get(base, base)})"


def prototypes() -> dict:
    found = {}
    pattern = re.compile(r"KQFW_API\s+([\w\s\*]+?)\s*\b(\w+)\s*\(([^)]*)\);", re.S)
    for header in HEADERS:
        for result, name, params in pattern.findall(header.read_text()):
            arguments = []
            params = " ".join(params.split())
            if params not in ("", "void"):
                for param in params.split(","):
                    param = param.strip()
                    # Drop the parameter's name: the last word not part of the type.
                    words = param.replace("*", " * ").split()
                    type_words = words[:-1] if len(words) > 1 and words[-1] != "*" else words
                    arguments.append(ctype(" ".join(type_words)))
            found[name] = (ctype(result), arguments)
    return found


def render(table: dict) -> str:
    lines = []
    for name, (result, arguments) in table.items():
        lines.append(f"    \"{name}\": ({result}, [{', '.join(arguments)}]),")
    return "\n".join(lines)


if __name__ == "__main__":
    print(render(prototypes()))
