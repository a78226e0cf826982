// Keeps one build of the game whole, for playing with the server gone: every file of it, each
// checked against the build's own list, in one cache named after the build. A newer build takes
// over only once all its files are kept, so a deploy with a file missing or broken never
// replaces one that plays.
"use strict";
const BUILD = "@MIGLIAR_BUILD@";
const FILES = @MIGLIAR_FILES@; // name: SHA-256 of its content
const CACHE = `migliar-${BUILD}`;
const scope = new URL(self.registration.scope);

const hex = (bytes) =>
  [...new Uint8Array(bytes)].map((byte) => byte.toString(16).padStart(2, "0")).join("");

// A file of this build's, as the page asks for it: from the browser's cache where the page has
// just put it, and from the server again where that copy is another's.
async function checked(name) {
  const url = new URL(`${name}?${BUILD}`, scope);
  for (const cache of ["default", "reload"]) {
    const response = await fetch(url, { cache });
    if (response.ok && hex(await crypto.subtle.digest(
        "SHA-256", await response.clone().arrayBuffer())) === FILES[name])
      return response;
  }
  throw new Error(`${name} is not this build's`);
}

self.addEventListener("install", (event) => {
  event.waitUntil((async () => {
    const names = Object.keys(FILES);
    // Another worker of this origin's (one in another site's frame) may keep it already.
    const kept = await caches.has(CACHE);
    try {
      const responses = await Promise.all(names.map(checked));
      const cache = await caches.open(CACHE);
      await Promise.all(names.map((name, i) => cache.put(new URL(name, scope), responses[i])));
    } catch (why) {
      if (!kept)
        await caches.delete(CACHE); // nothing half kept
      throw why;
    }
    // Kept whole: the next page is this build's. A page still loading the older one finds its
    // files gone and loads again (migliar-page.js).
    return self.skipWaiting();
  })());
});

self.addEventListener("activate", (event) => {
  event.waitUntil(caches.keys().then((names) => Promise.all(names
    .filter((name) => name.startsWith("migliar-") && name !== CACHE)
    .map((name) => caches.delete(name)))));
});

self.addEventListener("fetch", (event) => {
  const request = event.request;
  const url = new URL(request.url);
  if (request.method !== "GET" || url.origin !== scope.origin ||
      !url.pathname.startsWith(scope.pathname))
    return;
  const navigation = request.mode === "navigate";
  let name = url.pathname.slice(scope.pathname.length);
  if (navigation && name === "")
    name = "index.html";
  if (!Object.hasOwn(FILES, name))
    return; // not the game's: the network's
  // The page comes from the build kept; its files from the build the page belongs to, which
  // is gone only where a newer one took over as it loaded: refused, never another's.
  const wanted = navigation ? BUILD : url.search.slice(1) || BUILD;
  event.respondWith(caches.match(new URL(name, scope), { cacheName: `migliar-${wanted}` })
    .then((kept) => kept || (wanted === BUILD ? fetch(request) : Response.error())));
});
