# shellcheck shell=sh
# /etc/profile.d/trox_inst_env.sh: gives console logins, ssh sessions and "su -" the TROX values that
# graphical logins get from systemd's environment.d: the machine file first, then the user's own
# file over it, read and expanded the way systemd's user environment generator does it. Silent and
# without effect when neither file exists. TROX_INST_ENV_PREFIX moves the machine file as it moves
# every machine path of the tool.

trox_inst_env_machine=
trox_inst_env_file=${TROX_INST_ENV_PREFIX:-}
while [ "${#trox_inst_env_file}" -gt 1 ] && [ "${trox_inst_env_file%/}" != "$trox_inst_env_file" ]; do
    trox_inst_env_file=${trox_inst_env_file%/}
done
trox_inst_env_file=$trox_inst_env_file/etc/environment.d/60-trox_inst_env.conf
[ -f "$trox_inst_env_file" ] && [ -r "$trox_inst_env_file" ] && trox_inst_env_machine=$trox_inst_env_file
case ${XDG_CONFIG_HOME:-} in
/*) trox_inst_env_file=$XDG_CONFIG_HOME/environment.d/61-trox_inst_env.conf ;;
*) trox_inst_env_file=${HOME:+$HOME/.config/environment.d/61-trox_inst_env.conf} ;;
esac
if [ -n "$trox_inst_env_file" ] && [ -f "$trox_inst_env_file" ] && [ -r "$trox_inst_env_file" ]; then
    trox_inst_env_user=$trox_inst_env_file
else
    trox_inst_env_user=
fi

if { [ -n "$trox_inst_env_machine" ] || [ -n "$trox_inst_env_user" ]; } && command -v awk >/dev/null 2>&1; then
    trox_inst_env_exports=$(LC_ALL=C awk '
function mid(s, from, count) { return count > 0 ? substr(s, from + 1, count) : "" }
function namechar(c) { return c != "" && index("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789_", c) > 0 }
function newline(c) { return c == "\n" || c == "\r" }
function blank(c) { return c == " " || c == "\t" || newline(c) }

# Quoting as systemd reads an environment.d file: states as in its parser.
function parse(text,    n, i, c, st, name, value, has, keyTrail, valTrail) {
    st = "prekey"; n = length(text)
    for (i = 1; i <= n; i++) {
        c = substr(text, i, 1)
        if (st == "prekey") {
            if (newline(c)) continue
            if (c == "#" || c == ";") st = "comment"
            else if (!blank(c)) { st = "key"; name = c; value = ""; has = 0; keyTrail = -1 }
        } else if (st == "key") {
            if (newline(c)) st = "prekey"
            else if (c == "=") { st = "prevalue"; valTrail = -1 }
            else {
                if (!blank(c)) keyTrail = -1
                else if (keyTrail < 0) keyTrail = length(name)
                name = name c
            }
        } else if (st == "prevalue") {
            if (newline(c)) { assign(name, keyTrail, value, has); st = "prekey" }
            else if (c == "\047") st = "single"
            else if (c == "\"") st = "double"
            else if (c == "\\") st = "escape"
            else if (!blank(c)) { st = "value"; value = value c; has = 1 }
        } else if (st == "value") {
            if (newline(c)) {
                if (valTrail >= 0) value = substr(value, 1, valTrail)
                assign(name, keyTrail, value, has); st = "prekey"
            } else if (c == "\\") { st = "escape"; valTrail = -1 }
            else {
                if (!blank(c)) valTrail = -1
                else if (valTrail < 0) valTrail = length(value)
                value = value c; has = 1
            }
        } else if (st == "escape") {
            st = "value"
            if (!newline(c)) { value = value c; has = 1 }
        } else if (st == "single") {
            if (c == "\047") st = "prevalue"
            else { value = value c; has = 1 }
        } else if (st == "double") {
            if (c == "\"") st = "prevalue"
            else if (c == "\\") st = "doubleescape"
            else { value = value c; has = 1 }
        } else if (st == "doubleescape") {
            st = "double"
            if (c == "\"" || c == "\\" || c == "`" || c == "$") { value = value c; has = 1 }
            else if (c != "\n") { value = value "\\" c; has = 1 }
        } else if (st == "comment") {
            if (newline(c)) st = "prekey"
        }
    }
    if (st == "value" && valTrail >= 0) value = substr(value, 1, valTrail)
    if (st != "prekey" && st != "key" && st != "comment") assign(name, keyTrail, value, has)
}

# "NAME=" and "NAME=\"\"" set nothing, as if the line were not there.
function assign(name, keyTrail, value, has) {
    if (keyTrail >= 0) name = substr(name, 1, keyTrail)
    if (!has || name !~ /^[A-Za-z_][A-Za-z0-9_]*$/) return
    count++; names[count] = name; values[count] = value
}

# ${NAME}, $NAME, ${NAME:-default}, ${NAME:+alternate} and $$, step by step as systemd expands them.
function expand(text,    n, e, c, st, res, word, tv, nl, nest, nm, inner) {
    st = "word"; res = ""; word = 0; nest = 0; n = length(text)
    for (e = 0; e < n; e++) {
        c = substr(text, e + 1, 1)
        if (st == "word") {
            if (c == "$") st = "curly"
        } else if (st == "curly") {
            if (c == "{") { res = res mid(text, word, e - word - 1); word = e - 1; st = "variable"; nest++ }
            else if (c == "$") { res = res mid(text, word, e - word); word = e + 1; st = "word" }
            else if (namechar(c)) { res = res mid(text, word, e - word - 1); word = e - 1; st = "raw" }
            else st = "word"
        } else if (st == "variable") {
            if (c == "}") {
                nm = mid(text, word + 2, e - word - 2)
                if (nm in env) res = res env[nm]
                word = e + 1; st = "word"; nest--
            } else if (c == ":") { nl = e - word - 2; st = "test" }
        } else if (st == "test") {
            if (c == "-") st = "default"
            else if (c == "+") st = "alternate"
            else { st = "word"; continue }
            tv = e + 1
        } else if (st == "default" || st == "alternate") {
            if (c == "{") { nest++; continue }
            if (c != "}") continue
            nest--
            if (nest == 0) {
                nm = mid(text, word + 2, nl); inner = mid(text, tv, e - tv)
                if (st == "alternate") res = res ((nm in env) ? expand(inner) : "")
                else res = res ((nm in env) ? env[nm] : expand(inner))
                word = e + 1; st = "word"
            }
        } else if (st == "raw") {
            if (!namechar(c)) {
                nm = mid(text, word + 1, e - word - 1)
                if (nm in env) res = res env[nm]
                word = e; e--; st = "word"
            }
        }
    }
    if (st == "raw") { nm = mid(text, word + 1, e - word - 1); return res ((nm in env) ? env[nm] : "") }
    return res mid(text, word, e - word)
}

BEGIN { for (name in ENVIRON) env[name] = ENVIRON[name] }
FILENAME != current { if (current != "") parse(text); current = FILENAME; text = "" }
{ text = text $0 "\n" }
END {
    if (current != "") parse(text)
    # The user manager never had the variables of these files before reading them: a reference to one
    # of them ahead of its assignment finds nothing, whatever this shell inherited.
    for (i = 1; i <= count; i++) delete env[names[i]]
    for (i = 1; i <= count; i++) { env[names[i]] = expand(values[i]); assigned[names[i]] = 1 }
    split("OV_ROOT OV_SYSTEM OV_SERVER_ROOT OV_RESERVE_SERVER_ROOT OV_WORKSTATION OV_DEVELOPER", ours, " ")
    for (i = 1; i <= 6; i++) {
        if (!(ours[i] in assigned)) continue
        value = env[ours[i]]
        gsub(/\047/, "\047\\\047\047", value)
        printf "export %s=\047%s\047\n", ours[i], value
    }
}' ${trox_inst_env_machine:+"$trox_inst_env_machine"} ${trox_inst_env_user:+"$trox_inst_env_user"} 2>/dev/null) && eval "$trox_inst_env_exports"
fi
unset trox_inst_env_machine trox_inst_env_file trox_inst_env_user trox_inst_env_exports
