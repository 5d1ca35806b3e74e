# Sourced by the Wine launch scripts: what every Wine process here runs with.
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="

# Linux starts the brk heap of Wine's loader anywhere in the GiB above it. About
# once in a thousand starts the heap covers 0x7ff00000-0x7fff0000, where Wine
# maps the shared user data; the new process then dies at once ("failed to map
# the shared user data: c0000018"), and a command interpreter reports a program
# on PATH as unknown. With address randomisation off, which every process Wine
# starts inherits, the heap follows the loader directly. Where the personality
# cannot be set, programs run as before.
tw_wine_launch="/usr/lib/wine/wine64"
if setarch "$(uname -m)" -R true 2>/dev/null; then
    tw_wine_launch="setarch $(uname -m) -R /usr/lib/wine/wine64"
fi
