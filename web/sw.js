// SPDX-License-Identifier: BSD-2-Clause
// The player page's service worker: the page and its module come from the
// network while there is one (so an update shows at once) and from the
// cache without, so that a page visited once opens offline. Movies are not
// cached: they stream straight to the page.
'use strict';
const kCache = 'kivo-player';
const kFiles = ['./', 'index.html', 'player.js', 'player.css', 'kivo.js', 'kivo.wasm', 'manifest.webmanifest',
  'icon.svg'];

self.addEventListener('install', (e) => {
  e.waitUntil(caches.open(kCache).then((c) => c.addAll(kFiles)).then(() => self.skipWaiting()));
});
self.addEventListener('activate', (e) => e.waitUntil(self.clients.claim()));

self.addEventListener('fetch', (e) => {
  const url = new URL(e.request.url);
  const scope = new URL(self.registration.scope);
  if (e.request.method !== 'GET' || url.origin !== scope.origin) return;
  const name = url.pathname.startsWith(scope.pathname) ? url.pathname.slice(scope.pathname.length) : null;
  if (name === null || !(name === '' || kFiles.includes(name))) return;
  e.respondWith(fetch(e.request).then((response) => {
    if (response.ok) {
      const copy = response.clone();
      caches.open(kCache).then((c) => c.put(name || './', copy));
    }
    return response;
  }).catch(() => caches.match(name || './').then((hit) => hit || Response.error())));
});
