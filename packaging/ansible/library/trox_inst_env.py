#!/usr/bin/python3
# Sets the TROX environment of a Linux workstation through trox_inst_env_cli, which holds every rule:
# this module only hands it the values, as text, and turns its JSON report into Ansible's changed,
# diff and failure.

DOCUMENTATION = r"""
module: trox_inst_env
short_description: Sets the TROX environment of a Linux workstation
description:
  - Runs C(trox_inst_env_cli set --json) with the values given; a value left out is left as it is.
  - Check mode runs the tool's C(--dry-run); C(--diff) shows each value and file before and after.
  - Values are text. A value YAML or an INI inventory typed as a number (C(012) is the number 10)
    or anything else but text is refused, so that no number reaches the workstation changed.
options:
  root: {type: raw, description: OV_ROOT, an absolute path}
  system: {type: raw, description: OV_SYSTEM, the system's directory below the root}
  server_root: {type: raw, description: OV_SERVER_ROOT}
  reserve_server_root: {type: raw, description: OV_RESERVE_SERVER_ROOT}
  workstation: {type: raw, description: OV_WORKSTATION, 1 to 999 as text}
  developer: {type: raw, description: OV_DEVELOPER, true or false}
  standalone: {type: raw, description: the server root becomes the root}
  system_profile: {type: raw, default: true, description: false while the system tree is not there yet}
  prefix: {type: str, default: "", description: like TROX_INST_ENV_PREFIX; empty for the real /}
  cli: {type: str, default: trox_inst_env_cli}
"""

import json

from ansible.module_utils.basic import AnsibleModule

TEXTS = [("root", "OV_ROOT"), ("system", "OV_SYSTEM"), ("server_root", "OV_SERVER_ROOT"),
         ("reserve_server_root", "OV_RESERVE_SERVER_ROOT"), ("workstation", "OV_WORKSTATION")]
SWITCHES = ["developer", "standalone", "system_profile"]


def text_of(module, name, value):
    # Ansible hands templated values over as its own string types; all are str.
    if not isinstance(value, str):
        module.fail_json(msg="trox_%s must be text, quoted in YAML or the inventory: it arrived as the %s %r%s"
                         % (name, type(value).__name__, value,
                            " (YAML reads 012 as the octal number 10)" if isinstance(value, int) else ""))
    return value


def switch_of(module, name, value):
    if isinstance(value, bool):
        return value
    if isinstance(value, str) and value.lower() in ("true", "false"):
        return value.lower() == "true"
    module.fail_json(msg="trox_%s must be true or false, not %r" % (name, value))


def label(change):
    if change["kind"] == "variable":
        return "%s (%s)" % (change["name"], change["scope"])
    if change["kind"] == "user-variable-removed":
        return "%s in %s" % (change["name"], change["path"])
    return "%s [%s] %s" % (change["path"], change["section"], change["key"])


def main():
    options = {name: dict(type="raw") for name, _ in TEXTS}
    options.update({name: dict(type="raw") for name in SWITCHES})
    options.update(prefix=dict(type="str", default=""), cli=dict(type="str", default="trox_inst_env_cli"))
    module = AnsibleModule(argument_spec=options, supports_check_mode=True)
    params = module.params

    switches = {name: None if params[name] is None else switch_of(module, name, params[name]) for name in SWITCHES}
    command = [params["cli"], "set"]
    for name, variable in TEXTS:
        if params[name] is None:
            continue
        # In stand-alone mode the server root is the root; the tool refuses both.
        if name == "server_root" and switches["standalone"]:
            continue
        command.append("%s=%s" % (variable, text_of(module, name, params[name])))
    if switches["standalone"] is not None:
        command.append("--stand-alone" if switches["standalone"] else "--no-stand-alone")
    if switches["developer"] is not None:
        command.append("--developer" if switches["developer"] else "--no-developer")
    if switches["system_profile"] is False:
        command.append("--no-system-profile")
    command.append("--json")
    if module.check_mode:
        command.append("--dry-run")

    environment = {"TROX_INST_ENV_PREFIX": params["prefix"]} if params["prefix"] else {}
    # Each value reaches the tool as written: no $NAME or ~ expanded on the way.
    rc, out, err = module.run_command(command, environ_update=environment, expand_user_and_vars=False)
    try:
        report = json.loads(out)
    except ValueError:
        module.fail_json(msg="%s gave no report (exit %d): %s" % (params["cli"], rc, err.strip()), rc=rc)

    changes = report.get("changes", [])
    result = dict(changed=bool(report.get("changed")), changes=changes, warnings=report.get("warnings", []),
                  rc=rc, diff=[dict(before_header=label(c), after_header=label(c),
                                    before="" if c["old"] is None else c["old"] + "\n",
                                    after="" if c["new"] is None else c["new"] + "\n") for c in changes])
    if rc != 0:
        module.fail_json(msg="; ".join(report.get("errors") or [err.strip()]),
                         refused=rc == 2, **result)
    module.exit_json(**result)


if __name__ == "__main__":
    main()
