// SPDX-License-Identifier: BSD-2-Clause
// The Kivo player page: movies opened from files, drops or the address's
// movie= parameters, decoded by the library's WebAssembly module one frame at
// a time, the picture drawn on a canvas and the sound played through Web
// Audio. The sound is the clock: each frame is shown when the sound of its
// time is heard, and a frame found too late has its copy skipped (never its
// decoding, so the sound stays whole).
'use strict';

// ---- The module's calls (web/kivo_page.h) -----------------------------------

// KwState's words, in the record's order.
const kStateFields = ['width', 'height', 'frameCount', 'rateNum', 'rateDen', 'alpha', 'trackRate', 'trackChannels',
  'pcm', 'rgba', 'frame', 'pcmBytes', 'readError', 'luma', 'u', 'v', 'alphaPlane', 'sourceWidth', 'sourceHeight',
  'chromaWidth', 'chromaHeight', 'pitch', 'chromaPitch'];

class KivoDecoder {
  static async load() {
    const module = await KivoModule();
    return new KivoDecoder(module);
  }

  constructor(module) {
    this.m = module;
    this.statePtr = module._kw_state();
    this.path = '/movie.kiv';
  }

  // The module's memory may grow (and its views change) at any call.
  get heap() { return this.m.HEAPU8; }

  state() {
    const words = new Uint32Array(this.heap.buffer, this.statePtr, kStateFields.length);
    const s = {};
    kStateFields.forEach((name, i) => { s[name] = words[i]; });
    return s;
  }

  // Opens a movie held in `bytes` (a Uint8Array); null, or the reason it
  // cannot be played.
  open(bytes, trackId = 0, extraFlags = 0) {
    const FS = this.m.FS;
    FS.writeFile(this.path, bytes);
    const size = this.m.lengthBytesUTF8(this.path) + 1;
    const name = this.m._malloc(size);
    this.m.stringToUTF8(this.path, name, size);
    const ok = this.m._kw_open(name, trackId, extraFlags);
    this.m._free(name);
    if (!ok) FS.unlink(this.path);
    return ok ? null : (this.m.UTF8ToString(this.m._kw_error_text()) || 'The movie cannot be opened.');
  }

  // Decodes the loaded frame; false when the file ended early.
  decode() { return this.m._kw_decode() === 0; }
  // The frame's PCM (16-bit, interleaved) as a view into the module's memory.
  pcm(s) { return new Int16Array(this.heap.buffer, s.pcm, s.pcmBytes >> 1); }
  // Converts the picture decoded last into the RGBA rows.
  copy() { this.m._kw_copy(); }
  // The RGBA rows, a view into the module's memory.
  rgba(s) { return this.heap.subarray(s.rgba, s.rgba + s.width * s.height * 4); }
  next() { this.m._kw_next(); }
  pause(on) { this.m._kw_pause(on ? 1 : 0); }
  statsLine() { return this.m.UTF8ToString(this.m._kw_stats_line()); }
  close() {
    this.m._kw_close();
    if (this.m.FS.analyzePath(this.path).exists) this.m.FS.unlink(this.path);
  }
}

// ---- The player ------------------------------------------------------------

const kStartMargin = 0.1;   // seconds between scheduling the first sound and hearing it
const kDryMargin = 0.03;    // sound scheduled this close to now has run dry
const kDecodeAhead = 0.05;  // seconds a frame is decoded before it is due
const kTickBudgetMs = 40;   // decoding per animation frame before the page yields

class KivoPlayer {
  constructor(decoder, ui) {
    this.decoder = decoder;
    this.ui = ui;
    this.ctx2d = ui.canvas.getContext('2d');
    this.queue = [];          // {name, bytes} still to play
    this.played = [];         // the whole list, for looping it
    this.loop = false;
    this.showStats = false;
    this.audio = null;        // the AudioContext, made at the first movie with sound
    this.movie = null;        // the open movie's state record and playback state
    this.userPaused = false;  // space
    this.hidden = false;      // the page is not visible
    this.paused = false;      // either of the two
    this.tick = this.tick.bind(this);
    this.rafPending = false;
  }

  // ---- The list ----

  // Plays the list; with `frame`, shows that frame of the first movie, paused.
  play(list, frame = 0) {
    this.stop();
    this.played = list.slice();
    this.queue = list.slice();
    this.openNext(frame);
  }

  openNext(frame = 0) {
    this.closeMovie();
    if (this.queue.length === 0 && this.loop && this.played.length > 1) this.queue = this.played.slice();
    const entry = this.queue.shift();
    if (!entry) {
      this.setStatus('Finished.');
      return;
    }
    this.openMovie(entry, frame);
  }

  // Esc: nothing more is played.
  stop() {
    this.queue = [];
    if (this.movie) this.setStatus('Stopped.');
    this.closeMovie();
  }

  // Opens and starts a movie; whatever fails gives its one message.
  openMovie(entry, stopAtFrame = 0) {
    this.setMessage('');
    this.setHint('');
    this.userPaused = false;
    this.paused = false;
    this.waitingForGesture = false;
    try {
      return this.setUp(entry, stopAtFrame);
    } catch (e) {
      this.fail(entry.name, e);
      return false;
    }
  }

  // Ends the movie with the message of what went wrong.
  fail(name, e) {
    this.stop();
    this.setMessage(name + ': ' + (e.message || e));
  }

  setUp(entry, stopAtFrame) {
    const error = this.decoder.open(entry.bytes, entry.track || 0);
    if (error) {
      this.setMessage(entry.name + ': ' + error);
      this.setStatus('');
      return false;
    }
    const s = this.decoder.state();
    const canvas = this.ui.canvas;
    canvas.width = s.width;
    canvas.height = s.height;
    canvas.classList.toggle('alpha', s.alpha !== 0);
    this.image = new ImageData(s.width, s.height);
    this.movie = {
      name: entry.name, s,
      frameSeconds: s.rateNum ? s.rateDen / s.rateNum : 0,
      lateLimit: s.rateNum ? 2 * s.rateDen / s.rateNum : 0,
      sound: s.trackRate !== 0,
      played: 0,           // frames decoded in this play
      anchor: 0,           // clock time of this play's frame 1
      nextSound: 0,        // audio-context time for the next PCM
      started: false,
      pending: false,      // a frame decoded and not shown yet
      pendingDue: 0,
      pendingCopied: false,
      pendingLast: false,
      ended: false,
      lateRun: 0,
      skippedBlits: 0,
      soundSkips: 0,
      shown: 0,
      offsets: [],         // picture minus sound at each shown frame (seconds)
      pausedAt: 0,
    };
    this.setStatus(entry.name + ': ' + s.width + ' x ' + s.height + ', ' + s.frameCount + ' frames' +
      (s.rateNum ? ' at ' + (s.rateNum / s.rateDen).toFixed(2).replace(/\.?0+$/, '') + ' frames/sec' : '') +
      (s.trackRate ? ', sound ' + s.trackRate + ' Hz' + (s.trackChannels === 2 ? ' stereo' : ' mono') : ', no sound') +
      (s.alpha ? ', alpha' : ''));
    if (stopAtFrame) {
      this.showFrame(stopAtFrame);
      return true;
    }
    this.start();
    return true;
  }

  closeMovie() {
    const mv = this.movie;
    if (!mv) return;
    // What the last movie showed, for the page's tests.
    this.lastPlayed = { name: mv.name, frame: mv.s.frame, shown: mv.shown, skippedBlits: mv.skippedBlits,
      soundSkips: mv.soundSkips, syncMedianMs: this.syncMedianMs() };
    this.movie = null;
    this.decoder.close();
    this.ui.stats.textContent = '';
    if (this.audio) {
      // Drops whatever sound is still scheduled, paused or not.
      this.audio.close();
      this.audio = null;
    }
  }

  // ---- The clock ----

  async start() {
    const mv = this.movie;
    try {
      await this.startSound(mv);
    } catch (e) {
      if (mv === this.movie) this.fail(mv.name, e);
    }
  }

  async startSound(mv) {
    if (mv.sound) {
      if (!this.audio) {
        try {
          // At the track's own rate, so that each frame's sound starts on a sample.
          this.audio = new AudioContext({ sampleRate: mv.s.trackRate, latencyHint: 'playback' });
        } catch (e) {
          // A browser that cannot run at that rate resamples the frames' sound instead.
          this.audio = new AudioContext({ latencyHint: 'playback' });
        }
      }
      if (this.audio.state !== 'running') {
        // Browsers hold sound back until the visitor has touched the page.
        const resumed = this.audio.resume();
        const running = await Promise.race([resumed.then(() => true),
          new Promise((r) => setTimeout(() => r(false), 300))]);
        if (mv !== this.movie) return;
        if (!running) {
          this.setHint('Click or press a key to play.');
          this.waitingForGesture = true;
          return;
        }
      }
    }
    this.setHint('');
    this.kick();
  }

  // A touch of the page while the sound was held back.
  gesture() {
    if (!this.waitingForGesture || !this.movie) return false;
    this.waitingForGesture = false;
    this.audio.resume().then(() => {
      this.setHint('');
      this.kick();
    });
    return true;
  }

  // Seconds of the current play heard (or, without sound, passed) so far.
  now() {
    const mv = this.movie;
    if (mv.sound) {
      const a = this.audio;
      let t = a.currentTime - (a.outputLatency || a.baseLatency || 0);
      if (a.getOutputTimestamp && a.state === 'running') {
        const ts = a.getOutputTimestamp();
        if (ts.contextTime > 0) t = ts.contextTime + (performance.now() - ts.performanceTime) / 1000;
      }
      return t - mv.anchor;
    }
    return performance.now() / 1000 - mv.anchor;
  }

  // Seconds of the current play scheduled so far: sound queued for earlier
  // than this is too late to be played.
  scheduled() {
    const mv = this.movie;
    return (mv.sound ? this.audio.currentTime : performance.now() / 1000) - mv.anchor;
  }

  // The frame's sound, queued right after the sound before it.
  queueSound(pcm) {
    const mv = this.movie;
    const a = this.audio;
    const channels = mv.s.trackChannels;
    const frames = pcm.length / channels;
    if (frames === 0) return;
    if (mv.nextSound < a.currentTime + kDryMargin) {
      // The sound ran dry (the page was held up): it resumes a little later,
      // and the pictures move with it.
      const shift = a.currentTime + kDryMargin + 0.02 - mv.nextSound;
      mv.anchor += shift;
      mv.nextSound += shift;
      if (mv.played > 1) mv.soundSkips += 1;
    }
    const buffer = a.createBuffer(channels, frames, mv.s.trackRate);
    for (let c = 0; c < channels; ++c) {
      const out = buffer.getChannelData(c);
      for (let i = 0, j = c; i < frames; ++i, j += channels) out[i] = pcm[j] / 32768;
    }
    const node = a.createBufferSource();
    node.buffer = buffer;
    node.connect(a.destination);
    node.start(mv.nextSound);
    mv.nextSound += frames / mv.s.trackRate;
  }

  // ---- The frame cycle ----
  // Each frame is decoded a little before it is due, so that its sound is
  // queued before it is heard, and shown when it is due.

  kick() {
    const mv = this.movie;
    if (!mv || mv.ended) return;
    if (!mv.started) {
      mv.started = true;
      this.anchorPlay(true);
    }
    if (!this.rafPending) {
      this.rafPending = true;
      requestAnimationFrame(this.tick);
    }
  }

  // Starts the clock of a play at its frame 1: at once for the first play,
  // after the last frame's time (and the sound before) for a loop.
  anchorPlay(first) {
    const mv = this.movie;
    const end = mv.anchor + mv.played * mv.frameSeconds;
    mv.played = 0;
    if (mv.sound) {
      const t = Math.max(this.audio.currentTime + kStartMargin, mv.nextSound);
      mv.anchor = t;
      mv.nextSound = t;
    } else {
      const t = performance.now() / 1000;
      mv.anchor = first ? t : Math.max(t, end);
    }
  }

  // Decodes the loaded frame and queues its sound; false after a read error.
  decodeOne() {
    const mv = this.movie;
    if (!this.decoder.decode()) {
      const frame = this.decoder.state().frame;
      this.setMessage(mv.name + ': the file ends early; frame ' + frame + ' and later cannot be decoded.');
      return false;
    }
    mv.s = this.decoder.state();
    if (mv.sound) this.queueSound(this.decoder.pcm(mv.s));
    mv.played += 1;
    return true;
  }

  tick() {
    this.rafPending = false;
    try {
      this.cycle();
    } catch (e) {
      // Whatever went wrong ends the movie with its message, never a stuck page.
      this.fail(this.movie ? this.movie.name : 'Kivo', e);
    }
  }

  cycle() {
    const mv = this.movie;
    if (!mv || mv.ended || this.paused) return;
    const began = performance.now();
    for (;;) {
      if (mv.pending) {
        if (this.now() < mv.pendingDue) break;
        mv.pending = false;
        if (mv.pendingCopied) this.present(mv.pendingDue);
        if (mv.pendingLast && !this.afterLast()) return;
        if (!mv.frameSeconds) break;  // as fast as possible: one picture per animation frame
      }
      const due = mv.played * mv.frameSeconds;
      if (this.scheduled() < due - kDecodeAhead) break;
      if (!this.decodeOne()) {
        this.endMovie(true);
        return;
      }
      mv.pendingLast = mv.s.frame >= mv.s.frameCount;
      mv.pendingCopied = this.copyIfOnTime(due);
      this.decoder.next();
      mv.pending = true;
      mv.pendingDue = due;
      if (performance.now() - began > kTickBudgetMs) break;
    }
    this.kick();
  }

  // The late test of a frame just decoded: more than two frames late, its
  // copy is skipped, though never four copies in a row. Without sound the
  // lateness is forgotten instead: the clock starts again from this frame.
  copyIfOnTime(due) {
    const mv = this.movie;
    const late = mv.frameSeconds ? this.now() - due : 0;
    if (late > mv.lateLimit) {
      if (!mv.sound) {
        mv.anchor += late;
      } else if (++mv.lateRun <= 3) {
        mv.skippedBlits += 1;
        return false;
      }
    }
    mv.lateRun = 0;
    this.decoder.copy();
    return true;
  }

  // Shows the copied picture (when it is due; null: a still).
  present(due) {
    const mv = this.movie;
    this.image.data.set(this.decoder.rgba(mv.s));
    this.ctx2d.putImageData(this.image, 0, 0);
    mv.shown += 1;
    if (due !== null && mv.frameSeconds && mv.offsets.length < 4096) mv.offsets.push(this.now() - due);
    if (this.showStats) this.ui.stats.textContent = this.decoder.statsLine();
  }

  // After the last frame was shown: the play starts over (a single movie
  // looping), or the movie ends once its last picture has had its time and
  // its sound has played out. False when it ended.
  afterLast() {
    const mv = this.movie;
    if (this.loop && this.played.length <= 1) {
      this.anchorPlay(false);
      return true;
    }
    mv.ended = true;
    const rest = Math.max(mv.frameSeconds, mv.sound ? mv.nextSound - this.audio.currentTime : 0);
    setTimeout(() => { if (this.movie === mv) this.endMovie(false); }, rest * 1000);
    return false;
  }

  endMovie(failed) {
    const mv = this.movie;
    if (!mv) return;
    mv.ended = true;
    if (failed) {
      // The message stays; nothing more of this movie plays.
      this.queue = [];
      this.decoder.pause(true);
      return;
    }
    this.openNext();
  }

  // Decodes frames 1 to n and shows frame n, paused there.
  showFrame(n) {
    const mv = this.movie;
    mv.ended = true;
    const last = Math.min(n, mv.s.frameCount);
    for (let k = 1; k <= last; ++k) {
      if (!this.decoder.decode()) {
        this.setMessage(mv.name + ': the file ends early; frame ' + k + ' and later cannot be decoded.');
        return;
      }
      mv.s = this.decoder.state();
      if (k < last) this.decoder.next();
    }
    this.decoder.copy();
    this.present(null);
  }

  // ---- Keys ----

  togglePause() {
    if (!this.movie) return;
    this.userPaused = !this.userPaused;
    this.applyPause();
    this.setHint(this.userPaused ? 'Paused.' : '');
  }

  // A hidden page (another tab, a minimised window) pauses the movie and its
  // sound; shown again, it goes on unless the visitor had paused it.
  setHidden(hidden) {
    this.hidden = hidden;
    if (this.movie) this.applyPause();
  }

  applyPause() {
    const mv = this.movie;
    const paused = this.userPaused || this.hidden;
    if (paused === this.paused) return;
    this.paused = paused;
    this.decoder.pause(paused);
    if (mv.sound && this.audio) {
      if (paused) this.audio.suspend(); else this.audio.resume();
    } else if (paused) {
      mv.pausedAt = performance.now() / 1000;
    } else if (mv.pausedAt) {
      // A pause is not made up afterwards.
      mv.anchor += performance.now() / 1000 - mv.pausedAt;
      mv.pausedAt = 0;
    }
    if (!paused) this.kick();
  }

  // Enter while paused: the next frame, shown at once. Its sound is queued in
  // its place, so after the pause the pictures wait for the sound to catch up.
  step() {
    const mv = this.movie;
    if (!mv || !this.userPaused || mv.ended || !mv.started) return;
    if (!mv.pending) {
      if (!this.decodeOne()) {
        this.endMovie(true);
        return;
      }
      mv.pendingLast = mv.s.frame >= mv.s.frameCount;
      mv.pendingCopied = false;
      this.decoder.next();
    }
    mv.pending = false;
    // The planes are still those of this frame: nothing was decoded since.
    if (!mv.pendingCopied) this.decoder.copy();
    this.present(null);
    if (mv.pendingLast) this.afterLast();
  }

  // Picture minus sound at the frames shown so far, the median, in ms.
  syncMedianMs() {
    const o = (this.movie ? this.movie.offsets : []).slice().sort((a, b) => a - b);
    return o.length ? o[o.length >> 1] * 1000 : null;
  }

  // ---- The page ----

  setMessage(text) { this.ui.message.textContent = text; this.ui.message.hidden = !text; }
  setStatus(text) { this.ui.status.textContent = text; }
  setHint(text) { this.ui.hint.textContent = text; }
}

// ---- The page ---------------------------------------------------------------

async function fetchMovie(url) {
  const name = decodeURIComponent(url.split('/').pop() || url);
  const response = await fetch(url);
  if (!response.ok) throw new Error(name + ': cannot be fetched (' + response.status + ' ' + response.statusText + ')');
  return { name, bytes: new Uint8Array(await response.arrayBuffer()) };
}

async function readFiles(files) {
  const list = [];
  for (const f of files) list.push({ name: f.name, bytes: new Uint8Array(await f.arrayBuffer()) });
  return list;
}

async function startPage() {
  const ui = {
    canvas: document.getElementById('picture'),
    stats: document.getElementById('stats'),
    message: document.getElementById('message'),
    status: document.getElementById('status'),
    hint: document.getElementById('hint'),
  };
  const params = new URLSearchParams(location.search);
  let decoder;
  try {
    decoder = await KivoDecoder.load();
  } catch (e) {
    ui.message.textContent = 'The decoder cannot be loaded in this browser: ' + e;
    ui.message.hidden = false;
    return null;
  }
  const player = new KivoPlayer(decoder, ui);
  window.kivoPage = { decoder, player, KivoDecoder, fetchMovie };
  const loopBox = document.getElementById('loop');
  const statsBox = document.getElementById('show-stats');
  player.loop = loopBox.checked = params.get('loop') === '1';
  player.showStats = statsBox.checked = params.get('stats') === '1';
  loopBox.onchange = () => { player.loop = loopBox.checked; };
  statsBox.onchange = () => {
    player.showStats = statsBox.checked;
    if (!player.showStats) ui.stats.textContent = '';
  };
  const track = Number(params.get('track') || 0);
  const withOptions = (list) => list.map((e) => Object.assign(e, { track }));

  const open = async (load, frame = 0) => {
    try {
      const list = withOptions(await load());
      if (list.length) player.play(list, frame);
    } catch (e) {
      player.stop();
      player.setMessage(String(e.message || e));
    }
  };
  document.getElementById('file').onchange = (e) => open(() => readFiles(e.target.files));
  // The buttons give the focus back, so that space never presses one again.
  const button = (id, action) => {
    document.getElementById(id).onclick = (e) => {
      e.currentTarget.blur();
      action();
    };
  };
  button('pause', () => player.togglePause());
  button('next', () => player.openNext());
  button('stop', () => player.stop());
  const drop = document.body;
  drop.addEventListener('dragover', (e) => { e.preventDefault(); drop.classList.add('dropping'); });
  drop.addEventListener('dragleave', () => drop.classList.remove('dropping'));
  drop.addEventListener('drop', (e) => {
    e.preventDefault();
    drop.classList.remove('dropping');
    open(() => readFiles(e.dataTransfer.files));
  });
  document.addEventListener('pointerdown', () => player.gesture());
  document.addEventListener('visibilitychange', () => player.setHidden(document.hidden));
  document.addEventListener('keydown', (e) => {
    if (player.gesture()) return;
    if (e.target instanceof HTMLInputElement && e.target.type !== 'checkbox') return;
    if (e.key === ' ') player.togglePause();
    else if (e.key === 'Enter') player.step();
    else if (e.key === '.') player.openNext();
    else if (e.key === 'Escape') player.stop();
    else return;
    e.preventDefault();
  });

  const urls = params.getAll('movie');
  const frame = Number(params.get('frame') || 0);
  if (urls.length) {
    await open(async () => {
      const list = [];
      for (const url of urls) list.push(await fetchMovie(url));
      return list;
    }, frame);
  }
  return player;
}
