#pragma once

// The least any listing of systems does: read the root's entries and stat "ROOT/NAME/config" for
// each, in plain POSIX calls. Returns how many of those are directories, or -1 when the root cannot
// be read.
int bareSystemsLoop(const char *root);
