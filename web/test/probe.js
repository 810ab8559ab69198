// SPDX-License-Identifier: BSD-2-Clause
// Test hooks evaluated in the player page by web/test/drive.py: they use the
// page's own decoder (window.kivoPage) and return plain JSON for comparing
// with kivdump's output.
'use strict';
(() => {
  const table = new Uint32Array(256);
  for (let n = 0; n < 256; ++n) {
    let c = n;
    for (let k = 0; k < 8; ++k) c = c & 1 ? 0xEDB88320 ^ (c >>> 1) : c >>> 1;
    table[n] = c >>> 0;
  }
  // CRC-32 (the zlib one) continued over `bytes`.
  function crc32(crc, bytes) {
    crc = ~crc >>> 0;
    for (let i = 0; i < bytes.length; ++i) crc = table[(crc ^ bytes[i]) & 0xFF] ^ (crc >>> 8);
    return ~crc >>> 0;
  }
  function planeCrc(crc, heap, address, width, height, pitch) {
    for (let y = 0; y < height; ++y) crc = crc32(crc, heap.subarray(address + y * pitch, address + y * pitch + width));
    return crc;
  }

  window.kivoProbe = {
    // Every frame of the movie at `url` decoded as the page decodes it: a
    // CRC of each frame's Y, U and V rows (and of its alpha rows), and of
    // the whole sound track's PCM.
    async decodeAll(url, track = 0) {
      const { decoder, fetchMovie } = window.kivoPage;
      const movie = await fetchMovie(url);
      const error = decoder.open(movie.bytes, track, 0);
      if (error) return { error };
      const result = { frames: [], alpha: [], framePcmBytes: [], pcmBytes: 0, pcmCrc: 0 };
      let s = decoder.state();
      result.frameCount = s.frameCount;
      for (let n = 1; n <= s.frameCount; ++n) {
        if (!decoder.decode()) {
          result.error = 'read error at frame ' + n;
          break;
        }
        s = decoder.state();
        const heap = decoder.heap;
        result.framePcmBytes.push(s.pcmBytes);
        if (s.pcmBytes) {
          result.pcmCrc = crc32(result.pcmCrc, heap.subarray(s.pcm, s.pcm + s.pcmBytes));
          result.pcmBytes += s.pcmBytes;
        }
        let crc = planeCrc(0, heap, s.luma, s.sourceWidth, s.sourceHeight, s.pitch);
        crc = planeCrc(crc, heap, s.u, s.chromaWidth, s.chromaHeight, s.chromaPitch);
        crc = planeCrc(crc, heap, s.v, s.chromaWidth, s.chromaHeight, s.chromaPitch);
        result.frames.push(crc);
        result.width = s.sourceWidth;
        result.height = s.sourceHeight;
        if (s.alphaPlane) result.alpha.push(planeCrc(0, heap, s.alphaPlane, s.sourceWidth, s.sourceHeight, s.pitch));
        decoder.next();
      }
      decoder.close();
      return result;
    },

    // A CRC of the canvas's RGB bytes (what was drawn, at the movie's own size).
    pictureCrc() {
      const c = document.getElementById('picture');
      const rgba = c.getContext('2d').getImageData(0, 0, c.width, c.height).data;
      const rgb = new Uint8Array(c.width * c.height * 3);
      for (let i = 0, j = 0; i < rgba.length; i += 4, j += 3) rgb.set(rgba.subarray(i, i + 3), j);
      return { width: c.width, height: c.height, crc: crc32(0, rgb) };
    },

    // From now on the PCM the player queues is summed up in sound().
    listen() {
      const p = window.kivoPage.player;
      const heard = { bytes: 0, crc: 0 };
      const queue = p.queueSound.bind(p);
      p.queueSound = (pcm) => {
        const bytes = new Uint8Array(pcm.buffer, pcm.byteOffset, pcm.byteLength);
        heard.crc = crc32(heard.crc, bytes);
        heard.bytes += bytes.length;
        queue(pcm);
      };
      this.heard = heard;
    },
    sound() { return this.heard; },

    // The seek bar moved to `seconds`, as a drag does.
    seekBar(seconds) {
      const bar = document.getElementById('seek');
      bar.value = String(seconds);
      bar.dispatchEvent(new Event('input'));
    },

    // What the player shows and counts now.
    player() {
      const p = window.kivoPage.player;
      const mv = p.movie;
      const canvas = document.getElementById('picture');
      const r = canvas.getBoundingClientRect();
      return {
        message: document.getElementById('message').hidden ? '' : document.getElementById('message').textContent,
        status: document.getElementById('status').textContent,
        stats: document.getElementById('stats').textContent,
        movie: mv ? { name: mv.name, frame: mv.s.frame, shown: mv.shown, played: mv.played, ended: mv.ended,
          skippedBlits: mv.skippedBlits, soundSkips: mv.soundSkips, sound: mv.sound } : null,
        paused: p.userPaused,
        last: p.lastPlayed || null,
        syncMedianMs: p.syncMedianMs(),
        alpha: canvas.classList.contains('alpha'),
        canvas: { x: r.left, y: r.top, width: r.width, height: r.height },
        audio: p.audio ? p.audio.state : 'none',
        gain: p.master && p.audio ? p.master.gain.value : null,
        pauseButton: document.getElementById('pause').textContent,
        hint: document.getElementById('hint').textContent,
        stream: p.stream ? { received: p.stream.received, done: p.stream.done } : null,
        position: mv ? mv.position : null,
        fullscreen: document.fullscreenElement ? document.fullscreenElement.id : null,
        empty: canvas.classList.contains('empty'),
        title: document.title,
        heap: window.kivoPage.decoder.heap.length,
      };
    },
  };
})();
