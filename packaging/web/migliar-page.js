// The page round the game: it fits the window to the screen, loads the game and keeps this build
// for playing offline. No inline script anywhere, so that a school site's strict policy lets it
// run.
"use strict";
(() => {
  // The build this script belongs to: every file of the game's it asks for carries it, so that
  // no cache can hand it another build's script or program.
  const build = "@MIGLIAR_BUILD@";
  const own = (name) => `${name}?${build}`;
  let screen_ = document.getElementById("screen");
  const status_ = document.getElementById("status");
  const said = (text) => {
    status_.textContent = text;
    status_.style.display = "flex";
  };
  const shown = () => {
    status_.style.display = "none";
    screen_.style.display = "block";
  };
  const ended = (text) => {
    screen_.style.display = "none";
    said(text);
  };
  const failed = (why) => ended("Мигляр не можа да се зареди: " + why);

  // ---- Whole on every screen
  // The window with its title bar, and a margin round it, in CSS pixels.
  const WHOLE = { width: 517, height: 472 };
  const viewport = document.querySelector("meta[name=viewport]");
  // Where the screen is smaller, the page is made as wide as the window needs: the browser then
  // shows it whole, smaller, and Qt still draws it at the screen's own pixels. No CSS transform:
  // Qt places taps by the canvas's own box.
  function fit() {
    const view = window.visualViewport;
    // While the device's keyboard is up the screen only looks shorter.
    if (!view || document.activeElement instanceof HTMLInputElement)
      return;
    // The screen at a zoom of 1, whatever the page's zoom is now.
    const wide = view.width * view.scale;
    const tall = view.height * view.scale;
    let content = "width=device-width, initial-scale=1";
    if (wide < WHOLE.width || tall < WHOLE.height)
      content = `width=${Math.ceil(Math.max(WHOLE.width, (WHOLE.height * wide) / tall))}`;
    if (viewport.content !== content)
      viewport.content = content;
  }
  fit();
  window.visualViewport?.addEventListener("resize", fit);
  window.addEventListener("resize", fit);

  // ---- Offline: one build kept whole by the service worker
  function keepOffline() {
    if (navigator.storage?.persist)
      navigator.storage.persist().catch(() => {}); // so that an iPad keeps it through idle days
    navigator.serviceWorker?.register("service-worker.js")
      .then((registration) => registration.update())
      .catch(() => {}); // a page opened as a file, a sandbox: it plays online only
  }

  // ---- The game
  const script = (src) => new Promise((loaded, broken) => {
    const element = Object.assign(document.createElement("script"), { src });
    element.onload = loaded;
    element.onerror = () => broken(src.split("?")[0]);
    document.body.append(element);
  });

  // The program is asked for at once and compiled as it arrives, beside the script's download.
  const program = fetch(own("migliar.wasm")).then((response) => {
    if (!response.ok)
      throw `migliar.wasm: ${response.status}`;
    // A server that sends it as another type: compiled once all is there.
    return WebAssembly.compileStreaming(response.clone())
      .catch(() => response.arrayBuffer().then((bytes) => WebAssembly.compile(bytes)));
  });
  program.catch(() => {}); // told where it is used

  // Qt 6.4 (Debian 12) builds the game as a module factory that draws on our canvas; its own
  // loader would fetch the script and eval() it, which a strict policy refuses.
  function startQt64() {
    return createQtAppInstance({
      qtContainerElements: [screen_],
      locateFile: own,
      instantiateWasm(imports, instantiated) {
        program.then((module) => WebAssembly.instantiate(module, imports)
          .then((instance) => instantiated(instance, module))).catch(lost);
        return {};
      },
      // Shown just before main() runs, which reads the canvas's size. (A status callback would
      // hold main() back by a timer.)
      onRuntimeInitialized() {
        shown();
        screen_.focus(); // the keyboard plays at once
      },
      print: (text) => console.log(text),
      printErr: (text) => console.warn(text),
      onAbort: () => ended("Мигляр спря."),
      quit(code) {
        if (code !== 0)
          ended("Мигляр спря.");
      },
    });
  }

  // Later Qt (Debian 13) makes its own canvas in a container, and gives the keyboard to its
  // window itself, as the window activates: the container takes no focus.
  async function startLaterQt() {
    const container = document.createElement("div");
    container.id = "screen";
    screen_.replaceWith(container);
    screen_ = container;
    screen_.addEventListener("contextmenu", (event) => event.preventDefault());
    await script(own("qtloader.js"));
    await qtLoad({
      locateFile: own,
      qt: { containerElements: [container], entryFunction: window.migliar_entry, module: program,
            onLoaded: shown, onExit: () => ended("Мигляр спря.") },
    });
  }

  // A newer build that the service worker has kept whole takes over at once, and drops the older
  // one's files: a page that was still loading those loads again, once, as the newer build.
  function lost(why) {
    try {
      if (navigator.serviceWorker?.controller && sessionStorage.getItem("migliar-lost") !== build) {
        sessionStorage.setItem("migliar-lost", build);
        location.reload();
        return;
      }
    } catch {} // no storage here: say so
    failed(why);
  }

  screen_.addEventListener("contextmenu", (event) => event.preventDefault());
  // A click gives the game the keyboard, also in another site's frame (a lesson's), where WebKit
  // moves it there only so: Qt's handlers keep the click from focusing anything itself. A finger
  // leaves it to Qt, whose field brings up the device's keyboard.
  screen_.addEventListener("pointerdown", (event) => {
    if (event.pointerType === "mouse" && document.activeElement !== screen_)
      screen_.focus();
  });
  (async () => {
    try {
      await script(own("migliar.js"));
      await (typeof createQtAppInstance === "function" ? startQt64() : startLaterQt());
      // Once the first frame is drawn: the start waits for nothing else.
      requestAnimationFrame(() => setTimeout(keepOffline));
    } catch (why) {
      lost(why);
    }
  })();
})();
