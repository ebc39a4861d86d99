#!/usr/bin/python3
"""The real tool on the screens and desktops operators use, read back the way a screen reader and a
person read it: on virtual X screens of common sizes, with a large font and a dark palette set through
a platform theme, its windows walked through the accessibility bus (AT-SPI), its pixels photographed.

    desktop_checks.py EXECUTABLE SHOT_DIR

Runs inside its own session bus (dbus-run-session). Prints one line per check and a closing count;
exits 1 when any check failed. Every window is closed with Escape, so nothing is written.
"""
import os
import re
import shutil
import subprocess
import sys
import tempfile
import time

import pyatspi

EXE, SHOTS = sys.argv[1], sys.argv[2]
TOP = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
MAIN = "Set Active TROX System"
results = []


def check(ok, what):
    results.append(bool(ok))
    print(("ok   " if ok else "FAIL ") + what, flush=True)
    return ok


def wait_for(what, probe, seconds=20):
    end = time.monotonic() + seconds
    while time.monotonic() < end:
        found = probe()
        if found:
            return found
        time.sleep(0.05)
    raise RuntimeError(what + " did not happen within %d s" % seconds)


class Screen:
    """An X server of one size with the tool running on it under the given environment."""

    def __init__(self, size, extra_env, theme=None):
        self.scratch = tempfile.mkdtemp(prefix="trox-desktop-")
        read, write = os.pipe()
        self.xvfb = subprocess.Popen(["Xvfb", "-displayfd", str(write), "-screen", "0", size + "x24",
                                      "-nolisten", "tcp"], pass_fds=[write], stderr=subprocess.DEVNULL)
        os.close(write)
        number = b""
        while not number.endswith(b"\n"):
            chunk = os.read(read, 16)
            if not chunk:
                raise RuntimeError("Xvfb did not start")
            number += chunk
        os.close(read)
        self.display = ":" + number.decode().strip()
        self.size = tuple(int(n) for n in size.split("x"))
        env = dict(os.environ)
        for name in ("QT_QPA_PLATFORM", "QT_QPA_PLATFORMTHEME", "QT_SCALE_FACTOR", "XDG_CONFIG_DIRS",
                     "WAYLAND_DISPLAY", "QT_STYLE_OVERRIDE"):
            env.pop(name, None)
        home = os.path.join(self.scratch, "home")
        prefix = os.path.join(self.scratch, "prefix")
        os.makedirs(os.path.join(home, ".config"))
        os.makedirs(os.path.join(prefix, "etc", "trox"))
        shutil.copytree(os.path.join(TOP, "demo", "systems"), os.path.join(self.scratch, "systems"))
        env.update(DISPLAY=self.display, HOME=home, XDG_CONFIG_HOME=os.path.join(home, ".config"),
                   TROX_INST_ENV_PREFIX=prefix, QT_LINUX_ACCESSIBILITY_ALWAYS_ON="1",
                   OV_ROOT=os.path.join(self.scratch, "systems"), OV_SYSTEM="plant_a",
                   OV_SERVER_ROOT="/srv/trox-master", OV_RESERVE_SERVER_ROOT="/srv/trox-reserve",
                   OV_WORKSTATION="12", OV_DEVELOPER="false")
        if theme:
            # The way a desktop without its own Qt integration sets the palette and the font.
            os.makedirs(os.path.join(home, ".config", "qt6ct"))
            with open(os.path.join(home, ".config", "qt6ct", "qt6ct.conf"), "w") as conf:
                conf.write(theme)
            env["QT_QPA_PLATFORMTHEME"] = "qt6ct"
        env.update(extra_env)
        self.env = env
        self.tool = subprocess.Popen([EXE], env=env)
        self.app = wait_for("the tool on the accessibility bus", self.find_app)
        self.main = self.window(MAIN)
        # The load fills the values on the first turn of the event loop.
        wait_for("the load", lambda: self.find(self.main, lambda a: a.name.startswith("Root: /")))

    def find_app(self):
        desktop = pyatspi.Registry.getDesktop(0)
        for i in range(desktop.childCount):
            app = desktop.getChildAtIndex(i)
            try:
                if app is not None and app.get_process_id() == self.tool.pid:
                    return app
            except Exception:
                pass
        return None

    def window(self, name):
        def probe():
            for i in range(self.app.childCount):
                child = self.app.getChildAtIndex(i)
                if child is not None and child.name == name and \
                        child.getState().contains(pyatspi.STATE_SHOWING):
                    return child
            return None
        return wait_for('the window "%s"' % name, probe)

    def gone(self, name):
        def probe():
            for i in range(self.app.childCount):
                child = self.app.getChildAtIndex(i)
                if child is not None and child.name == name and \
                        child.getState().contains(pyatspi.STATE_SHOWING):
                    return False
            return True
        wait_for('"%s" to close' % name, probe)

    @staticmethod
    def find(root, predicate):
        return pyatspi.findDescendant(root, predicate)

    def xwindow(self, title):
        out = subprocess.run(["xdotool", "search", "--sync", "--onlyvisible", "--name", "^%s$" % re.escape(title)],
                             env=self.env, capture_output=True, text=True, timeout=20).stdout.split()
        return out[0]

    def keys(self, title, *keys):
        subprocess.run(["xdotool", "windowfocus", "--sync", self.xwindow(title), "key", "--clearmodifiers"]
                       + list(keys), env=self.env, check=True, timeout=20)

    def press(self, title, window, name):
        """Focuses the named button through the accessibility bus and presses it with Space."""
        button = self.find(window, lambda a: a.getRole() == pyatspi.ROLE_PUSH_BUTTON and a.name == name)
        button.queryComponent().grabFocus()
        wait_for("focus on " + name, lambda: button.getState().contains(pyatspi.STATE_FOCUSED), 5)
        self.keys(title, "space")

    def geometry(self, title):
        info = subprocess.run(["xwininfo", "-id", self.xwindow(title)], env=self.env, capture_output=True,
                              text=True, check=True).stdout
        value = lambda key: int(re.search(key + r":\s+(-?\d+)", info).group(1))
        return value("Absolute upper-left X"), value("Absolute upper-left Y"), value("Width"), value("Height")

    def shoot(self, name):
        path = os.path.join(SHOTS, name + ".png")
        time.sleep(0.3)  # the last paint of a window already shown; nothing is waited on through it
        subprocess.run(["import", "-window", "root", path], env=self.env, check=True)
        return path

    def close(self):
        try:
            self.keys(MAIN, "Escape")
            self.tool.wait(timeout=20)
        finally:
            if self.tool.poll() is None:
                self.tool.kill()
            self.xvfb.terminate()
            self.xvfb.wait()
            shutil.rmtree(self.scratch, ignore_errors=True)


def walk(root):
    stack = [root]
    while stack:
        node = stack.pop()
        yield node
        stack.extend(c for c in (node.getChildAtIndex(i) for i in range(node.childCount)) if c is not None)


def names_check(label, window):
    """Every control that takes the focus has a name, and no two buttons share one."""
    nameless, buttons, focusable = [], [], 0
    for node in walk(window):
        state = node.getState()
        if state.contains(pyatspi.STATE_FOCUSABLE) and state.contains(pyatspi.STATE_SHOWING):
            focusable += 1
            if not node.name.strip():
                nameless.append(node.getRoleName())
            if node.getRole() == pyatspi.ROLE_PUSH_BUTTON:
                buttons.append(node.name)
            if re.search(r"<[a-z/]", node.description):
                nameless.append(node.getRoleName() + " with markup in its description")
    shared = sorted({b for b in buttons if buttons.count(b) > 1})
    check(focusable and not nameless and not shared,
          "AT-SPI %s: %d focusable controls, each named, no two buttons alike%s%s"
          % (label, focusable, "; nameless: %s" % nameless if nameless else "",
             "; shared: %s" % shared if shared else ""))


def fits(screen, label):
    x, y, w, h = screen.geometry(MAIN)
    sw, sh = screen.size
    check(x >= 0 and y >= 0 and x + w <= sw and y + h <= sh,
          "%s: the dialog (%dx%d at %d,%d) lies inside the %dx%d screen" % (label, w, h, x, y, sw, sh))
    dialog = screen.main.queryComponent().getExtents(pyatspi.DESKTOP_COORDS)
    inside = []
    for name in ("Ok", "Cancel"):
        button = screen.find(screen.main, lambda a, n=name: a.getRole() == pyatspi.ROLE_PUSH_BUTTON and a.name == n)
        r = button.queryComponent().getExtents(pyatspi.DESKTOP_COORDS)
        inside.append(button.getState().contains(pyatspi.STATE_SHOWING) and r.x >= dialog.x and r.y >= dialog.y
                      and r.x + r.width <= dialog.x + dialog.width and r.y + r.height <= dialog.y + dialog.height)
    check(all(inside), "%s: Ok and Cancel are inside the dialog, so on the screen" % label)


def luminance(rgb):
    def channel(c):
        c = c / 255.0
        return c / 12.92 if c <= 0.03928 else ((c + 0.055) / 1.055) ** 2.4
    r, g, b = (channel(c) for c in rgb)
    return 0.2126 * r + 0.7152 * g + 0.0722 * b


def contrast(a, b):
    la, lb = sorted((luminance(a), luminance(b)), reverse=True)
    return (la + 0.05) / (lb + 0.05)


def note_contrast(screen, shot, label):
    """Background: the commonest colour inside the note's frame; text: the colour farthest from it
    among those that cover a visible share of the box (anti-aliasing adds the shades between)."""
    note = screen.find(screen.main, lambda a: a.getRole() == pyatspi.ROLE_LABEL and a.name.startswith("Important!"))
    r = note.queryComponent().getExtents(pyatspi.DESKTOP_COORDS)
    crop = "%dx%d+%d+%d" % (r.width - 8, r.height - 8, r.x + 4, r.y + 4)
    histogram = subprocess.run(["convert", shot, "-crop", crop, "+repage", "-format", "%c", "histogram:info:-"],
                               capture_output=True, text=True, check=True).stdout
    colours = [(int(m.group(1)), tuple(int(v) for v in m.group(2, 3, 4)))
               for m in re.finditer(r"(\d+):\s*\(\s*(\d+),\s*(\d+),\s*(\d+)", histogram)]
    total = sum(n for n, _ in colours)
    background = max(colours)[1]
    text = max((c for n, c in colours if n >= total * 0.002), key=lambda c: contrast(c, background))
    ratio = contrast(text, background)
    check(ratio >= 4.5, "contrast of the note, %s palette: %.1f:1 (text %s on %s)" % (label, ratio, text, background))


def editors(screen):
    main = screen.main
    names_check("main dialog", main)
    set_buttons = [a.name for a in walk(main) if a.getRole() == pyatspi.ROLE_PUSH_BUTTON and a.name.startswith("Set")]
    check(len(set_buttons) == 5 and len(set(set_buttons)) == 5 and "Set reserve server" in set_buttons,
          "AT-SPI main dialog: five Set buttons, five names: %s" % ", ".join(sorted(set_buttons)))
    values = [a.name for a in walk(main) if a.getRole() in (pyatspi.ROLE_LABEL, pyatspi.ROLE_STATIC) and
              a.getState().contains(pyatspi.STATE_FOCUSABLE)]
    check(sorted(v.split(":")[0] for v in values) == ["Reserve Server", "Root", "System", "System Server",
                                                      "Workstation ID"],
          "AT-SPI main dialog: the five values are reached by Tab, each named by its caption")
    for button, title, spoken in (("Set root path", "Set root path for Orvane Control Systems", None),
                                  ("Set system", "Set current system", None),
                                  ("Set system server", "Set path to system server", None),
                                  ("Set reserve server", "Set path to system server", "Set path to reserve server"),
                                  ("Set workstation ID", "Set Workstation Number", None)):
        screen.press(MAIN, main, button)
        editor = screen.window(spoken or title)
        names_check('"%s"' % (spoken or title), editor)
        if title == "Set Workstation Number":
            screen.press(title, editor, "Browse")
            browser = screen.window("Browse Workstations")
            names_check('"Browse Workstations"', browser)
            screen.keys("Browse Workstations", "Down", "Return")
            screen.gone("Browse Workstations")
            number = wait_for("focus back in the number editor",
                              lambda: screen.find(editor, lambda a: a.getState().contains(pyatspi.STATE_FOCUSED)))
            check(number.name == "Workstation number" and number.queryText().getText(0, -1) != "",
                  "keyboard: after the browser hands back a number, the focus is on the number (%s)" % number.name)
        screen.keys(title, "Escape")
        screen.gone(spoken or title)


THEME_DARK = """[Appearance]
color_scheme_path=/usr/share/qt6ct/colors/darker.conf
custom_palette=true
style=Fusion
"""
THEME_FONT16 = """[Appearance]
custom_palette=false
style=Fusion
[Fonts]
general="DejaVu Sans,16,-1,5,50,0,0,0,0,0"
fixed="DejaVu Sans Mono,16,-1,5,50,0,0,0,0,0"
"""

os.makedirs(SHOTS, exist_ok=True)
runs = [
    ("1366x768 at 125 %", "1366x768", {"QT_SCALE_FACTOR": "1.25"}, None, "laptop-1366x768-125"),
    ("1280x720 logical (2560x1440 at 200 %)", "2560x1440", {"QT_SCALE_FACTOR": "2"}, None, "hidpi-1280x720"),
    ("16 pt font on 1366x768", "1366x768", {}, THEME_FONT16, "font-16pt"),
    ("light palette", "1366x768", {}, None, "light"),
    ("dark palette", "1366x768", {}, THEME_DARK, "dark"),
]
for label, size, env, theme, shot_name in runs:
    try:
        screen = Screen(size, env, theme)
    except Exception as error:
        check(False, "%s: the tool did not come up: %s" % (label, error))
        continue
    try:
        shot = screen.shoot(shot_name)
        if "palette" in label:
            note_contrast(screen, shot, label.split()[0])
        else:
            fits(screen, label)
        if label == "light palette":
            editors(screen)
    except Exception as error:
        check(False, "%s: %s" % (label, error))
    finally:
        screen.close()

failed = results.count(False)
print("%d passed, %d failed" % (len(results) - failed, failed))
sys.exit(1 if failed else 0)
