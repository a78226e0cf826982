# Sourced: makes Debian's emscripten look as Qt for WebAssembly expects, in a folder of ours.
# Qt reads $EMSDK/.emscripten for the emscripten root under it and runs the emcc there; Debian
# installs emcc in /usr/bin and its system libraries, prebuilt, in a read-only cache, which emcc
# still wants to write its lock into. Usage: . packaging/web/environment.sh FOLDER
# With no folder it would remake /emsdk and /em-cache at the root: it refuses.
if [ -z "${1:-}" ]; then
    echo "environment.sh: which folder? Usage: . packaging/web/environment.sh FOLDER" >&2
    return 1 2>/dev/null || exit 1 # run rather than sourced, bash would go on past a return
fi
emsdk_home=$1/emsdk
if [ ! -f "$emsdk_home/.emscripten" ]; then
    rm -rf "$emsdk_home" "$1/em-cache"
    mkdir -p "$emsdk_home/emscripten"
    ln -s /usr/bin/emcc /usr/bin/em++ /usr/share/emscripten/cmake "$emsdk_home/emscripten/"
    cp -a /usr/share/emscripten/cache "$1/em-cache"
    echo "EMSCRIPTEN_ROOT = emsdk_path + '/emscripten'" >"$emsdk_home/.emscripten"
fi
export EMSDK=$emsdk_home
export EM_CACHE=$1/em-cache
# emcc's JavaScript optimizer needs Debian's acorn, which a node from elsewhere does not look for.
export NODE_PATH=/usr/share/nodejs${NODE_PATH:+:$NODE_PATH}
