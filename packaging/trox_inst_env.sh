# shellcheck shell=sh
# /etc/profile.d/trox_inst_env.sh: gives login shells (console, ssh, "su -", "sudo -i") the TROX
# values graphical logins get from systemd's environment.d folders: the user's own folder, then
# /etc, /run, /usr/local/lib and /usr/lib, a file name in an earlier folder masking it in later
# ones, all files in the order of their names. Plain files (the usual case: NAME="value" lines of
# letters, digits and path marks) are read by the shell itself, without starting a process. Anything
# else is read by systemd's generator where it is installed (it is the reader; only the six values it
# yields are taken from its output), otherwise by the reader below, which follows it step by step.
# TROX_INST_ENV_PREFIX moves every machine folder as it moves every machine path of the tool, and
# then the generator, which reads fixed folders, is not used. Nothing is evaluated: each value is
# assigned to its own name. Silent and without effect when no file gives one of the six.

# The folders the generator reads, the one it prefers first, into trox_inst_env_folders_1..5.
trox_inst_env_folders() {
    trox_inst_env_prefix=${TROX_INST_ENV_PREFIX:-}
    while [ "${#trox_inst_env_prefix}" -gt 1 ] && [ "${trox_inst_env_prefix%/}" != "$trox_inst_env_prefix" ]; do
        trox_inst_env_prefix=${trox_inst_env_prefix%/}
    done
    case ${XDG_CONFIG_HOME:-} in
    /*) trox_inst_env_folders_1=$XDG_CONFIG_HOME/environment.d ;;
    *) trox_inst_env_folders_1=${HOME:+$HOME/.config/environment.d} ;;
    esac
    trox_inst_env_folders_2=$trox_inst_env_prefix/etc/environment.d
    trox_inst_env_folders_3=$trox_inst_env_prefix/run/environment.d
    trox_inst_env_folders_4=$trox_inst_env_prefix/usr/local/lib/environment.d
    trox_inst_env_folders_5=$trox_inst_env_prefix/usr/lib/environment.d
}

# The files, read here as the generator reads them: the six values, one "NAME=value" line each.
trox_inst_env_read() {
    # Each candidate as "1path" (read) or "0path" (masks, but is no regular file: never opened).
    set --
    for trox_inst_env_dir in ${trox_inst_env_folders_1:+"$trox_inst_env_folders_1"} "$trox_inst_env_folders_2" \
        "$trox_inst_env_folders_3" "$trox_inst_env_folders_4" "$trox_inst_env_folders_5"; do
        for trox_inst_env_file in "$trox_inst_env_dir"/*.conf; do
            if [ -f "$trox_inst_env_file" ]; then
                set -- "$@" "1$trox_inst_env_file"
            elif [ -L "$trox_inst_env_file" ]; then
                set -- "$@" "0$trox_inst_env_file"
            fi
        done
    done
    [ "$#" -gt 0 ] && trox_inst_env_awk read "$@" </dev/null
}

# The common case without starting a process: a few files holding only comments and NAME=value or
# NAME="value" lines of ASCII letters, digits and a few marks (nothing any reader could take for
# quoting, escapes or another line; references only in other variables' values), each of the six
# set in one file, or in the tool's machine file and then its per-user file. False for anything
# else, which the readers below take.
trox_inst_env_plain() {
    trox_inst_env_marks=ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789_./:,+@%=-
    # shellcheck disable=SC2016 # the marks themselves, nothing to expand
    trox_inst_env_refs='${}'$trox_inst_env_marks
    trox_inst_env_seen=/
    trox_inst_env_lines=0
    for trox_inst_env_dir in ${trox_inst_env_folders_1:+"$trox_inst_env_folders_1"} "$trox_inst_env_folders_2" \
        "$trox_inst_env_folders_3" "$trox_inst_env_folders_4" "$trox_inst_env_folders_5"; do
        for trox_inst_env_file in "$trox_inst_env_dir"/*.conf; do
            [ -f "$trox_inst_env_file" ] || [ -L "$trox_inst_env_file" ] || continue
            trox_inst_env_base=${trox_inst_env_file##*/}
            case $trox_inst_env_seen in *"/$trox_inst_env_base/"*) continue ;; esac
            trox_inst_env_seen=$trox_inst_env_seen$trox_inst_env_base/
            [ -f "$trox_inst_env_file" ] || continue
            while IFS= read -r trox_inst_env_line || [ -n "$trox_inst_env_line" ]; do
                trox_inst_env_lines=$((trox_inst_env_lines + 1))
                [ "$trox_inst_env_lines" -le 64 ] || return 1
                # A carriage return ends a line for the generator, a backslash continues it.
                case $trox_inst_env_line in
                *\\ | [\#\;]*[[:cntrl:]]*) return 1 ;;
                '' | [\#\;]*) continue ;;
                esac
                trox_inst_env_name=${trox_inst_env_line%%=*}
                trox_inst_env_value=${trox_inst_env_line#*=}
                case $trox_inst_env_name in
                "$trox_inst_env_line" | '' | [0123456789]* | *[!ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789_]*)
                    return 1 ;;
                esac
                # Another variable's references cannot reach the six when theirs have none.
                case $trox_inst_env_name in
                OV_ROOT | OV_SYSTEM | OV_SERVER_ROOT | OV_RESERVE_SERVER_ROOT | OV_WORKSTATION | OV_DEVELOPER) ;;
                *)
                    case $trox_inst_env_value in *[!$trox_inst_env_refs]*) return 1 ;; esac
                    continue
                    ;;
                esac
                case $trox_inst_env_value in
                \"*\")
                    trox_inst_env_value=${trox_inst_env_value#\"}
                    trox_inst_env_value=${trox_inst_env_value%\"}
                    case $trox_inst_env_value in *[!$trox_inst_env_marks\ ]*) return 1 ;; esac
                    ;;
                *[!$trox_inst_env_marks]*) return 1 ;;
                esac
                # "NAME=" and "NAME=\"\"" set nothing.
                [ -n "$trox_inst_env_value" ] || continue
                case $trox_inst_env_name in
                OV_ROOT) trox_inst_env_keep "${trox_inst_env_at1:-}" "${trox_inst_env_to1:-}" || return 1
                    trox_inst_env_at1=$trox_inst_env_at trox_inst_env_to1=$trox_inst_env_to ;;
                OV_SYSTEM) trox_inst_env_keep "${trox_inst_env_at2:-}" "${trox_inst_env_to2:-}" || return 1
                    trox_inst_env_at2=$trox_inst_env_at trox_inst_env_to2=$trox_inst_env_to ;;
                OV_SERVER_ROOT) trox_inst_env_keep "${trox_inst_env_at3:-}" "${trox_inst_env_to3:-}" || return 1
                    trox_inst_env_at3=$trox_inst_env_at trox_inst_env_to3=$trox_inst_env_to ;;
                OV_RESERVE_SERVER_ROOT) trox_inst_env_keep "${trox_inst_env_at4:-}" "${trox_inst_env_to4:-}" || return 1
                    trox_inst_env_at4=$trox_inst_env_at trox_inst_env_to4=$trox_inst_env_to ;;
                OV_WORKSTATION) trox_inst_env_keep "${trox_inst_env_at5:-}" "${trox_inst_env_to5:-}" || return 1
                    trox_inst_env_at5=$trox_inst_env_at trox_inst_env_to5=$trox_inst_env_to ;;
                OV_DEVELOPER) trox_inst_env_keep "${trox_inst_env_at6:-}" "${trox_inst_env_to6:-}" || return 1
                    trox_inst_env_at6=$trox_inst_env_at trox_inst_env_to6=$trox_inst_env_to ;;
                esac
            done <"$trox_inst_env_file"
        done
    done
}

# Which of two assignments of a variable wins, as trox_inst_env_at (file) and trox_inst_env_to
# (value): the later line of the same file, the per-user file over the machine file; false for two
# other files, whose order by name this shell cannot compare.
trox_inst_env_keep() {
    trox_inst_env_at=$trox_inst_env_base
    trox_inst_env_to=$trox_inst_env_value
    if [ -z "$1" ] || [ "$1" = "$trox_inst_env_base" ]; then
        return 0
    fi
    case $1/$trox_inst_env_base in
    61-trox_inst_env.conf/60-trox_inst_env.conf)
        trox_inst_env_at=$1
        trox_inst_env_to=$2
        ;;
    60-trox_inst_env.conf/61-trox_inst_env.conf) ;;
    *) return 1 ;;
    esac
}

trox_inst_env_awk() {
    trox_inst_env_mode=$1
    shift
    # Only ever run in a subshell of its own, which awk then replaces.
    LC_ALL=C
    export LC_ALL
    exec awk -v mode="$trox_inst_env_mode" '
function mid(s, from, count) { return count > 0 ? substr(s, from + 1, count) : "" }
function namechar(c) { return c != "" && index("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789_", c) > 0 }
function newline(c) { return c == "\n" || c == "\r" }
function blank(c) { return c == " " || c == "\t" || newline(c) }
# Pieces joined pairwise, so that a long value costs n log n, not n squared.
function join(parts, n,    k, m) {
    while (n > 1) { m = 0; for (k = 1; k <= n; k += 2) parts[++m] = parts[k] (k < n ? parts[k + 1] : ""); n = m }
    return n ? parts[1] : ""
}
function add(c) { piece[++np] = c; has = 1 }
function assign(    v) {
    if (keyTrail >= 0) name = substr(name, 1, keyTrail)
    v = join(piece, np); np = 0
    # "NAME=" sets nothing in a file; in the generator output it sets NAME to empty.
    if ((!has && mode != "decode") || name !~ /^[A-Za-z_][A-Za-z0-9_]*$/) return
    count++; names[count] = name; values[count] = v
}
# One chunk of an environment file, the parser state carried from chunk to chunk as systemd does.
function parse(text,    n, i, c) {
    n = length(text)
    for (i = 1; i <= n; i++) {
        c = substr(text, i, 1)
        if (st == "prekey") {
            if (newline(c)) continue
            if (c == "#" || c == ";") st = "comment"
            else if (!blank(c)) { st = "key"; name = c; np = 0; has = 0; keyTrail = -1 }
        } else if (st == "key") {
            if (newline(c)) st = "prekey"
            else if (c == "=") { st = "prevalue"; valTrail = -1 }
            else {
                if (!blank(c)) keyTrail = -1
                else if (keyTrail < 0) keyTrail = length(name)
                name = name c
            }
        } else if (st == "prevalue") {
            if (newline(c)) { assign(); st = "prekey" }
            else if (c == "\047") st = "single"
            else if (c == "\"") st = "double"
            else if (c == "\\") st = "escape"
            else if (!blank(c)) { st = "value"; add(c) }
        } else if (st == "value") {
            if (newline(c)) { if (valTrail >= 0) np = valTrail; assign(); st = "prekey" }
            else if (c == "\\") { st = "escape"; valTrail = -1 }
            else {
                if (!blank(c)) valTrail = -1
                else if (valTrail < 0) valTrail = np
                add(c)
            }
        } else if (st == "escape") {
            st = "value"
            if (!newline(c)) add(c)
        } else if (st == "single") {
            if (c == "\047") st = "prevalue"
            else add(c)
        } else if (st == "double") {
            if (c == "\"") st = "prevalue"
            else if (c == "\\") st = "doubleescape"
            else add(c)
        } else if (st == "doubleescape") {
            st = "double"
            if (c == "\"" || c == "\\" || c == "`" || c == "$") add(c)
            else if (c != "\n") { add("\\"); add(c) }
        } else if (st == "comment") {
            if (c == "\\") st = "commentescape"
            else if (newline(c)) st = "prekey"
        } else if (st == "commentescape") st = "comment"
    }
}
function finish() {
    if (st == "value" && valTrail >= 0) np = valTrail
    if (st != "prekey" && st != "key" && st != "comment" && st != "commentescape") assign()
    st = "prekey"
}
# Valid UTF-8 as systemd takes it: shortest forms, no surrogates, no noncharacters.
function utf8(s) {
    if (s ~ /\357\267[\220-\257]|\357\277[\276\277]|[\360-\364][\217\237\257\277]\277[\276\277]/) return 0
    gsub(/[\001-\177]|[\302-\337][\200-\277]|\340[\240-\277][\200-\277]|[\341-\354\356\357][\200-\277][\200-\277]|\355[\200-\237][\200-\277]|\360[\220-\277][\200-\277][\200-\277]|[\361-\363][\200-\277][\200-\277][\200-\277]|\364[\200-\217][\200-\277][\200-\277]/, "", s)
    return s == ""
}
function lookup(nm) { return (nm in env) }
# ${NAME}, $NAME, ${NAME:-default}, ${NAME:+alternate} and $$, step by step as systemd expands them.
function expand(text,    n, e, c, st2, word, tv, nl, nest, nm, inner, out, no) {
    st2 = "word"; word = 0; nest = 0; n = length(text); no = 0
    if (index(text, "$") == 0) return text
    for (e = 0; e < n; e++) {
        c = substr(text, e + 1, 1)
        if (st2 == "word") {
            if (c == "$") st2 = "curly"
        } else if (st2 == "curly") {
            if (c == "{") { out[++no] = mid(text, word, e - word - 1); word = e - 1; st2 = "variable"; nest++ }
            else if (c == "$") { out[++no] = mid(text, word, e - word); word = e + 1; st2 = "word" }
            else if (namechar(c)) { out[++no] = mid(text, word, e - word - 1); word = e - 1; st2 = "raw" }
            else st2 = "word"
        } else if (st2 == "variable") {
            if (c == "}") {
                nm = mid(text, word + 2, e - word - 2)
                if (lookup(nm)) out[++no] = env[nm]
                word = e + 1; st2 = "word"; nest--
            } else if (c == ":") { nl = e - word - 2; st2 = "test" }
        } else if (st2 == "test") {
            if (c == "-") { st2 = "default"; tv = e + 1 }
            else if (c == "+") { st2 = "alternate"; tv = e + 1 }
            else st2 = "word"
        } else if (st2 == "default" || st2 == "alternate") {
            if (c == "{") nest++
            else if (c == "}") {
                nest--
                if (nest == 0) {
                    nm = mid(text, word + 2, nl); inner = mid(text, tv, e - tv)
                    if (st2 == "alternate") { if (lookup(nm)) out[++no] = expand(inner) }
                    else if (lookup(nm)) out[++no] = env[nm]
                    else out[++no] = expand(inner)
                    word = e + 1; st2 = "word"
                }
            }
        } else if (st2 == "raw") {
            if (!namechar(c)) {
                nm = mid(text, word + 1, e - word - 1)
                if (lookup(nm)) out[++no] = env[nm]
                word = e; e--; st2 = "word"
            }
        }
    }
    if (st2 == "raw") { nm = mid(text, word + 1, e - word - 1); if (lookup(nm)) out[++no] = env[nm] }
    else out[++no] = mid(text, word, e - word)
    return join(out, no)
}
# The generator prints control characters as C escapes, which the user manager keeps as they are.
function printed(v,    i, c, k, out, no) {
    if (v !~ /[\001-\037\177]/) return v
    no = 0
    for (i = 1; i <= length(v); i++) {
        c = substr(v, i, 1); k = index("\007\010\014\n\r\t\013", c)
        if (k) out[++no] = "\\" substr("abfnrtv", k, 1)
        else if (c ~ /[\001-\037\177]/) out[++no] = sprintf("\\%03o", index(ctl, c))
        else out[++no] = c
    }
    return join(out, no)
}
BEGIN {
    st = "prekey"; RS = sprintf("%c", 0)
    split("OV_ROOT OV_SYSTEM OV_SERVER_ROOT OV_RESERVE_SERVER_ROOT OV_WORKSTATION OV_DEVELOPER", tool, " ")
    for (i = 1; i <= 127; i++) ctl = ctl sprintf("%c", i)
    if (mode == "decode") {
        while ((getline line) > 0) parse(line "\n")
        finish()
    } else {
        for (name in ENVIRON) env[name] = ENVIRON[name]
        for (i = 1; i <= 6; i++) delete env[tool[i]]
        files = 0
        for (a = 1; a < ARGC; a++) {
            path = substr(ARGV[a], 2); base = path; sub(/.*\//, "", base)
            if (base in seen) continue
            seen[base] = 1; files++; fbase[files] = base; fpath[files] = path; fread[files] = substr(ARGV[a], 1, 1)
        }
        for (i = 2; i <= files; i++)
            for (j = i; j > 1 && fbase[j - 1] > fbase[j]; j--) {
                t = fbase[j]; fbase[j] = fbase[j - 1]; fbase[j - 1] = t
                t = fpath[j]; fpath[j] = fpath[j - 1]; fpath[j - 1] = t
                t = fread[j]; fread[j] = fread[j - 1]; fread[j - 1] = t
            }
        for (f = 1; f <= files; f++) {
            if (fread[f] != "1") continue
            # The whole file is one record, its last line break kept or missing as it is; a second
            # record means a NUL byte, and then the file gives nothing.
            records = 0
            while ((getline line < fpath[f]) > 0) if (++records == 1) text = line
            close(fpath[f])
            if (records == 1) { parse(text); finish() }
            text = ""
        }
        # mawk makes env[name] before it computes the value: "${NAME:-default}" would find it set.
        # A value that is not UTF-8 makes the generator fail, and the login get nothing.
        for (i = 1; i <= count; i++) { v = expand(values[i]); env[names[i]] = v; if (!utf8(v)) failed = 1 }
        if (failed) count = 0
        for (i = 1; i <= count; i++) values[i] = printed(env[names[i]])
    }
    for (i = 1; i <= count; i++) last[names[i]] = values[i]
    for (i = 1; i <= 6; i++) if (tool[i] in last) printf "%s=%s\n", tool[i], last[tool[i]]
}' "$@"
}

trox_inst_env_generator=/usr/lib/systemd/user-environment-generators/30-systemd-environment-d-generator
trox_inst_env_quoted=
trox_inst_env_values=
trox_inst_env_folders
if trox_inst_env_plain; then
    [ -z "${trox_inst_env_at1:-}" ] || { OV_ROOT=$trox_inst_env_to1 && export OV_ROOT; }
    [ -z "${trox_inst_env_at2:-}" ] || { OV_SYSTEM=$trox_inst_env_to2 && export OV_SYSTEM; }
    [ -z "${trox_inst_env_at3:-}" ] || { OV_SERVER_ROOT=$trox_inst_env_to3 && export OV_SERVER_ROOT; }
    [ -z "${trox_inst_env_at4:-}" ] || { OV_RESERVE_SERVER_ROOT=$trox_inst_env_to4 && export OV_RESERVE_SERVER_ROOT; }
    [ -z "${trox_inst_env_at5:-}" ] || { OV_WORKSTATION=$trox_inst_env_to5 && export OV_WORKSTATION; }
    [ -z "${trox_inst_env_at6:-}" ] || { OV_DEVELOPER=$trox_inst_env_to6 && export OV_DEVELOPER; }
elif [ -z "${TROX_INST_ENV_PREFIX:-}" ] && [ -x "$trox_inst_env_generator" ]; then
    # The user manager that runs it at a graphical login never had the six before.
    trox_inst_env_values=$(unset OV_ROOT OV_SYSTEM OV_SERVER_ROOT OV_RESERVE_SERVER_ROOT OV_WORKSTATION \
        OV_DEVELOPER; exec "$trox_inst_env_generator" 2>/dev/null)
    # Its quoting, read as the user manager reads it: without a backslash, quotes around the value
    # are all there is to take off.
    case $trox_inst_env_values in
    *\\*) trox_inst_env_values=$(printf '%s\n' "$trox_inst_env_values" | trox_inst_env_awk decode) ;;
    *) trox_inst_env_quoted=1 ;;
    esac
else
    trox_inst_env_values=$(trox_inst_env_read)
fi
# The plain case assigned its values already.
if [ -n "$trox_inst_env_values" ]; then
    while IFS= read -r trox_inst_env_line; do
        trox_inst_env_value=${trox_inst_env_line#*=}
        if [ -n "$trox_inst_env_quoted" ]; then
            case $trox_inst_env_value in
            \"*\") trox_inst_env_value=${trox_inst_env_value#\"} && trox_inst_env_value=${trox_inst_env_value%\"} ;;
            esac
        fi
        case ${trox_inst_env_line%%=*} in
        OV_ROOT) OV_ROOT=$trox_inst_env_value && export OV_ROOT ;;
        OV_SYSTEM) OV_SYSTEM=$trox_inst_env_value && export OV_SYSTEM ;;
        OV_SERVER_ROOT) OV_SERVER_ROOT=$trox_inst_env_value && export OV_SERVER_ROOT ;;
        OV_RESERVE_SERVER_ROOT) OV_RESERVE_SERVER_ROOT=$trox_inst_env_value && export OV_RESERVE_SERVER_ROOT ;;
        OV_WORKSTATION) OV_WORKSTATION=$trox_inst_env_value && export OV_WORKSTATION ;;
        OV_DEVELOPER) OV_DEVELOPER=$trox_inst_env_value && export OV_DEVELOPER ;;
        esac
    done <<EOF
$trox_inst_env_values
EOF
fi
unset trox_inst_env_generator trox_inst_env_quoted trox_inst_env_values trox_inst_env_line trox_inst_env_value \
    trox_inst_env_prefix trox_inst_env_folders_1 trox_inst_env_folders_2 trox_inst_env_folders_3 \
    trox_inst_env_folders_4 trox_inst_env_folders_5 trox_inst_env_marks trox_inst_env_refs trox_inst_env_seen \
    trox_inst_env_lines trox_inst_env_dir trox_inst_env_file trox_inst_env_base trox_inst_env_name \
    trox_inst_env_at trox_inst_env_to trox_inst_env_at1 trox_inst_env_to1 trox_inst_env_at2 trox_inst_env_to2 \
    trox_inst_env_at3 trox_inst_env_to3 trox_inst_env_at4 trox_inst_env_to4 trox_inst_env_at5 trox_inst_env_to5 \
    trox_inst_env_at6 trox_inst_env_to6
unset -f trox_inst_env_folders trox_inst_env_read trox_inst_env_plain trox_inst_env_keep trox_inst_env_awk
