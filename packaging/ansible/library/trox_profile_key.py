#!/usr/bin/python3
# Sets one key of one section of a TROX profile (INI) file with the same rules, byte for byte, as
# trox_inst_env does on Linux, so that files rolled out centrally and files set at the workstation
# never differ: the first section of that name and the first key of that name in it (both compared
# case-insensitively after trimming) win; only the value after '=' changes; a missing key goes after
# the section's last non-blank line, a missing section to the end of the file; a UTF-8 byte order
# mark and the file's line ending (LF for a new file) are kept. A new file gets mode 0644 and new
# directories 0755, whatever the umask; an existing file keeps its mode.

DOCUMENTATION = r"""
module: trox_profile_key
short_description: Set one key of a TROX profile (INI) file the way trox_inst_env does
options:
  path: {description: The profile file., type: path, required: true}
  section: {description: Section name without brackets., type: str, required: true}
  key: {description: Key name., type: str, required: true}
  value: {description: New value., type: str, required: true}
  create_directories:
    description: Create missing parent directories; when false a missing directory skips the file.
    type: bool
    default: false
"""

import os
import stat
import tempfile

from ansible.module_utils.basic import AnsibleModule

BOM = b"\xef\xbb\xbf"


def set_key(contents, section, key, value):
    wanted_section = section.strip()
    wanted_key = key.strip()
    bom = 3 if contents.startswith(BOM) else 0
    first_lf = contents.find(b"\n")
    line_break = b"\r\n" if first_lf > 0 and contents[first_lf - 1:first_lf] == b"\r" else b"\n"

    inside = False
    insert_at = -1
    start = bom
    size = len(contents)
    while start < size:
        line_start = start
        end = contents.find(b"\n", start)
        if end < 0:
            end = size
        following = end + 1 if end < size else end
        if end > line_start and contents[end - 1:end] == b"\r":
            end -= 1
        start = following

        text = contents[line_start:end]
        trimmed = text.strip()
        close = trimmed.find(b"]")
        if trimmed.startswith(b"[") and close > 0:
            if inside:
                break
            if trimmed[1:close].strip().lower() == wanted_section.lower():
                inside = True
                insert_at = following
            continue
        if not inside or not trimmed:
            continue
        insert_at = following
        equals = text.find(b"=")
        if equals >= 0 and text[:equals].strip().lower() == wanted_key.lower():
            return contents[:line_start + equals + 1] + value + contents[end:]

    entry = wanted_key + b"=" + value + line_break
    ends_open = size > bom and contents[-1:] != b"\n"
    if inside:
        separator = line_break if insert_at == size and ends_open else b""
        return contents[:insert_at] + separator + entry + contents[insert_at:]
    return contents + (line_break if ends_open else b"") + b"[" + wanted_section + b"]" + line_break + entry


def make_directories(directory):
    if os.path.isdir(directory):
        return
    make_directories(os.path.dirname(directory))
    os.mkdir(directory)
    os.chmod(directory, 0o755)


def main():
    module = AnsibleModule(
        argument_spec=dict(
            path=dict(type="path", required=True),
            section=dict(type="str", required=True),
            key=dict(type="str", required=True),
            value=dict(type="str", required=True),
            create_directories=dict(type="bool", default=False),
        ),
        supports_check_mode=True,
    )
    path = os.path.realpath(module.params["path"])
    directory = os.path.dirname(path)
    texts = [module.params[name] for name in ("section", "key", "value")]
    if any(c in text for text in texts for c in "\r\n\0"):
        module.fail_json(msg="a line break or a NUL character in the section, key or value")

    if not os.path.isdir(directory) and not module.params["create_directories"]:
        module.warn("%s: its directory does not exist, not written" % path)
        module.exit_json(changed=False, skipped=True, path=path)

    existed = os.path.exists(path)
    contents = b""
    if existed:
        with open(path, "rb") as f:
            contents = f.read()
    section, key, value = (text.encode("utf-8") for text in texts)
    changed_contents = set_key(contents, section, key, value)
    changed = not existed or changed_contents != contents
    if changed and not module.check_mode:
        make_directories(directory)
        mode = stat.S_IMODE(os.stat(path).st_mode) if existed else 0o644
        fd, temporary = tempfile.mkstemp(dir=directory, prefix=".trox_profile_key.")
        try:
            with os.fdopen(fd, "wb") as f:
                f.write(changed_contents)
                f.flush()
                os.fsync(f.fileno())
            os.chmod(temporary, mode)
            if existed:
                info = os.stat(path)
                try:
                    os.chown(temporary, info.st_uid, info.st_gid)
                except PermissionError:
                    pass  # not ours to give away; the file then belongs to whoever runs the play
            os.rename(temporary, path)
        except BaseException:
            if os.path.exists(temporary):
                os.unlink(temporary)
            raise
    module.exit_json(changed=changed, path=path)


if __name__ == "__main__":
    main()
