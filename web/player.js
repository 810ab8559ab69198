// SPDX-License-Identifier: BSD-2-Clause
// The Kivo player page: movies opened from files, drops or the address's
// movie= parameters, streamed into the library's WebAssembly module as they
// arrive and decoded one frame at a time, the picture drawn on a canvas and
// the sound played through Web Audio. The sound is the clock: each frame is
// shown when the sound of its time is heard, and a frame found too late has
// its copy skipped (never its decoding, so the sound stays whole).
'use strict';

// ---- The module's calls (web/kivo_page.h) -----------------------------------

// KwState's words, in the record's order.
const kStateFields = ['width', 'height', 'frameCount', 'rateNum', 'rateDen', 'alpha', 'trackRate', 'trackChannels',
  'pcm', 'rgba', 'frame', 'pcmBytes', 'readError', 'luma', 'u', 'v', 'alphaPlane', 'sourceWidth', 'sourceHeight',
  'chromaWidth', 'chromaHeight', 'pitch', 'chromaPitch'];
const kHeaderBytes = 44;          // a movie's fixed header: nothing can be told from fewer bytes
const kNotKivo = -3, kNoFrames = -4, kNoMemory = -6;  // kw_probe's answers that more bytes cannot change

class KivoDecoder {
  static async load() {
    const module = await KivoModule();
    return new KivoDecoder(module);
  }

  constructor(module) {
    this.m = module;
    this.statePtr = module._kw_state();
    this.data = 0;    // the movie's bytes in the module's memory
    this.size = 0;
  }

  // The module's memory may grow (and its views change) at any call.
  get heap() { return this.m.HEAPU8; }

  state() {
    const words = new Uint32Array(this.heap.buffer, this.statePtr, kStateFields.length);
    const s = {};
    kStateFields.forEach((name, i) => { s[name] = words[i]; });
    return s;
  }

  errorText() { return this.m.UTF8ToString(this.m._kw_error_text()) || 'The movie cannot be opened.'; }

  // The whole movie's size once `bytes` (its start) hold its header and
  // tables; else a negative status, with the reason in errorText.
  probe(bytes) {
    const at = this.m._malloc(Math.max(bytes.length, 1));
    if (!at) return kNoMemory;
    this.heap.set(bytes, at);
    const size = this.m._kw_probe(at, bytes.length);
    this.m._free(at);
    return size;
  }

  // Room for a movie of `size` bytes (the one open before is closed); false
  // when the memory cannot be had.
  reserve(size) {
    this.data = this.m._kw_buffer(size);
    this.size = this.data ? size : 0;
    return this.data !== 0;
  }

  // Copies bytes that arrived to their place in the movie.
  write(offset, bytes) {
    if (offset >= this.size) return;
    this.heap.set(offset + bytes.length > this.size ? bytes.subarray(0, this.size - offset) : bytes, this.data + offset);
    this.m._kw_arrived(offset + bytes.length);
  }

  // Opens the movie in the reserved room; null, or the reason it cannot be played.
  openBuffer(trackId = 0, extraFlags = 0) {
    return this.m._kw_open_buffer(trackId, extraFlags) ? null : this.errorText();
  }

  // Opens a whole movie held in `bytes` (a Uint8Array).
  open(bytes, trackId = 0, extraFlags = 0) {
    const size = this.probe(bytes);
    if (size <= 0) return this.errorText();
    if (!this.reserve(Math.min(size, bytes.length))) return 'Out of memory.';
    this.write(0, bytes);
    return this.openBuffer(trackId, extraFlags);
  }

  // Where frame n's packet ends in the movie's bytes.
  packetEnd(n) { return this.m._kw_packet_end(n); }
  // Loads the key frame at or before n, the sound readied for it; that frame.
  seek(n) { return this.m._kw_seek(n); }
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
    this.data = this.size = 0;
  }
}

// ---- Movies as they arrive ----------------------------------------------------

// One movie of the list streamed into the decoder: the bytes go straight to
// their place in the module's memory (held once), and the player may play
// every frame whose packet has arrived. `events` has ready() once the movie
// can be opened, more() as bytes arrive, and failed(text).
class MovieStream {
  constructor(entry, decoder, events) {
    this.entry = entry;
    this.decoder = decoder;
    this.events = events;
    this.received = 0;   // bytes of the movie in place
    this.total = 0;      // bytes the source says it holds, 0 when unknown
    this.done = false;   // the source has no more
    this.cancelled = false;
    this.reader = null;
  }

  async run() {
    const prefix = [];
    let have = 0, size = 0;
    try {
      this.reader = await this.open();
      for (;;) {
        const { done, value } = await this.reader.read();
        if (this.cancelled) return;
        if (done) break;
        if (size) {
          this.decoder.write(this.received, value);
          this.received += value.length;
          this.events.more();
          continue;
        }
        prefix.push(value);
        have += value.length;
        if (have >= kHeaderBytes) size = this.tryOpen(prefix, have, false);
        if (size < 0) return;
      }
      this.done = true;
      if (!size) this.tryOpen(prefix, have, true);
      else this.events.more();
    } catch (e) {
      if (!this.cancelled) this.events.failed(String(e.message || e));
    }
  }

  // The movie's size once its header and tables are in (the bytes so far
  // then in place), 0 to wait for more, -1 when it failed.
  tryOpen(prefix, have, last) {
    const bytes = prefix.length === 1 ? prefix[0] : new Uint8Array(have);
    if (prefix.length > 1) {
      let at = 0;
      for (const p of prefix) { bytes.set(p, at); at += p.length; }
      prefix.length = 0;
      prefix.push(bytes);
    }
    let size = this.decoder.probe(bytes);
    if (size <= 0) {
      if (!last && size !== kNotKivo && size !== kNoFrames && size !== kNoMemory) return 0;
      this.events.failed(this.decoder.errorText());
      return -1;
    }
    // No more room than the source says it holds, whatever the header claims.
    if (this.total > 0 && this.total < size) size = Math.max(this.total, have);
    if (!this.decoder.reserve(size)) {
      this.events.failed('The movie is too large for this page (' + size + ' bytes).');
      return -1;
    }
    this.decoder.write(0, bytes);
    this.received = have;
    prefix.length = 0;
    this.events.ready();
    return size;
  }

  async open() {
    const { file, url, name } = this.entry;
    if (file) {
      this.total = file.size;
      return file.stream().getReader();
    }
    // The first movie of the address is asked for while the module loads.
    const early = this.entry.early;
    this.entry.early = null;
    const response = await (early || fetch(url));
    if (!response.ok) throw new Error(name + ': cannot be fetched (' + response.status + ' ' + response.statusText + ')');
    // The size on the wire is the movie's unless the transfer is coded.
    if (!response.headers.get('Content-Encoding')) this.total = Number(response.headers.get('Content-Length') || 0);
    return response.body.getReader();
  }

  // Whether frame n's packet is all there.
  has(n) { return this.received >= this.decoder.packetEnd(n); }

  cancel() {
    this.cancelled = true;
    if (this.reader) this.reader.cancel().catch(() => {});
  }
}

// ---- The player ------------------------------------------------------------

const kStartMargin = 0.1;   // seconds between scheduling the first sound and hearing it
const kDryMargin = 0.03;    // sound scheduled this close to now has run dry
const kDecodeAhead = 0.05;  // seconds a frame is decoded before it is due
const kTickBudgetMs = 40;   // decoding per animation frame before the page yields
const kSeekStep = 5;        // seconds the arrow keys move

function formatTime(seconds) {
  const s = Math.max(0, Math.floor(seconds + 1e-6));
  const m = Math.floor(s / 60);
  const h = Math.floor(m / 60);
  const two = (n) => String(n).padStart(2, '0');
  return h ? h + ':' + two(m % 60) + ':' + two(s % 60) : m + ':' + two(s % 60);
}

class KivoPlayer {
  constructor(decoder, ui) {
    this.decoder = decoder;
    this.ui = ui;
    this.ctx2d = ui.canvas.getContext('2d');
    this.queue = [];          // entries {name, url | file, track} still to play
    this.played = [];         // the whole list, for looping and replaying it
    this.loop = false;
    this.showStats = false;
    this.volume = 1;
    this.muted = false;
    this.audio = null;        // the AudioContext of the open movie with sound
    this.stream = null;       // the open movie's bytes as they arrive
    this.movie = null;        // the open movie's state record and playback state
    this.userPaused = false;  // space
    this.hidden = false;      // the page is not visible
    this.paused = false;      // either of the two
    this.waitingForGesture = false;
    this.audioTurn = Promise.resolve();  // suspends and resumes, one after another
    this.tick = this.tick.bind(this);
    this.rafPending = false;
    this.onChange = () => {};  // the page's controls follow
  }

  // ---- The list ----

  // Plays the list; with `frame`, shows that frame of the first movie, paused.
  play(list, frame = 0) {
    this.stop(false);
    this.setMessage('');
    this.played = list.slice();
    this.queue = list.slice();
    this.openNext(frame);
  }

  // After the end or Stop: the last list once more.
  replay() {
    if (this.played.length && !this.stream) this.play(this.played);
  }

  openNext(frame = 0) {
    this.closeMovie();
    if (this.queue.length === 0 && this.loop && this.played.length > 1) this.queue = this.played.slice();
    const entry = this.queue.shift();
    if (!entry) {
      this.setStatus('Finished.');
      this.setHint(this.played.length ? 'Press Space or Play to watch again.' : '');
      this.onChange();
      return;
    }
    this.openMovie(entry, frame);
  }

  // Esc: nothing more is played.
  stop(say = true) {
    this.queue = [];
    if (say && this.stream) {
      this.setStatus('Stopped.');
      this.setHint('Press Space or Play to watch again.');
    }
    this.closeMovie();
    this.onChange();
  }

  // Starts streaming a movie; it opens once its tables are in.
  openMovie(entry, stopAtFrame = 0) {
    this.setHint('');
    this.userPaused = false;
    this.paused = false;
    this.waitingForGesture = false;
    this.setStatus('Loading ' + entry.name + '\u2026');
    const stream = new MovieStream(entry, this.decoder, {
      ready: () => { if (stream === this.stream) this.guard(entry.name, () => this.setUp(entry, stopAtFrame)); },
      more: () => { if (stream === this.stream) this.dataArrived(); },
      failed: (text) => { if (stream === this.stream) this.fail(entry.name, text); },
    });
    this.stream = stream;
    this.onChange();
    stream.run();
  }

  // Runs `action`; whatever goes wrong ends the movie with its message,
  // never a stuck page.
  guard(name, action) {
    try {
      action();
    } catch (e) {
      this.fail(name, e);
    }
  }

  // The movie's message stays; the list goes on with the next.
  fail(name, e) {
    const text = String(e && e.message !== undefined ? e.message : e);
    this.addMessage(text.startsWith(name + ':') ? text : name + ': ' + text);
    this.setStatus('');
    this.clearPicture();
    this.openNext();
  }

  setUp(entry, stopAtFrame) {
    const error = this.decoder.openBuffer(entry.track || 0);
    if (error) throw new Error(error);
    const s = this.decoder.state();
    const canvas = this.ui.canvas;
    canvas.width = s.width;
    canvas.height = s.height;
    canvas.classList.toggle('alpha', s.alpha !== 0);
    this.image = new ImageData(s.width, s.height);
    const frameSeconds = s.rateNum ? s.rateDen / s.rateNum : 0;
    this.movie = {
      name: entry.name, s,
      frameSeconds,
      duration: s.frameCount * frameSeconds,
      lateLimit: 2 * frameSeconds,
      sound: s.trackRate !== 0,
      loaded: 1,           // the frame whose packet is loaded
      played: 0,           // frames of this play decoded (frame 1 of the play is due at 0)
      anchor: 0,           // clock time of this play's frame 1
      nextSound: 0,        // audio-context time for the next PCM
      out: null,           // the gain node this play's sound goes through
      started: false,
      pending: false,      // a frame decoded and not shown yet
      pendingDue: 0,
      pendingCopied: false,
      pendingLast: false,
      ended: false,
      waitingForData: false,
      lateRun: 0,
      skippedBlits: 0,
      soundSkips: 0,
      shown: 0,
      position: 0,         // seconds into the movie of the picture shown
      offsets: [],         // picture minus sound at each shown frame (seconds)
      pausedAt: 0,
    };
    this.setStatus(entry.name + ': ' + s.width + ' x ' + s.height + ', ' + s.frameCount + ' frames' +
      (s.rateNum ? ' at ' + (s.rateNum / s.rateDen).toFixed(2).replace(/\.?0+$/, '') + ' frames/sec' : '') +
      (s.trackRate ? ', sound ' + s.trackRate + ' Hz' + (s.trackChannels === 2 ? ' stereo' : ' mono') : ', no sound') +
      (s.alpha ? ', alpha' : ''));
    this.ui.canvas.setAttribute('aria-label', 'Picture of ' + entry.name);
    this.ui.canvas.textContent = 'The picture of the movie ' + entry.name + '.';
    document.title = entry.name + ' \u2013 Kivo Player';
    this.ui.canvas.classList.remove('empty');
    this.onChange();
    if (stopAtFrame) {
      this.showFrame(stopAtFrame);
      return;
    }
    this.poster();
    this.start();
  }

  // Frame 1's picture at once, while the sound starts (which takes a tenth
  // of a second or more): its sound is queued as the play begins.
  poster() {
    const mv = this.movie;
    if (mv.s.frameCount < 2 || !this.stream.has(1) || !this.decoder.decode()) return;
    mv.s = this.decoder.state();
    mv.posterPcm = mv.sound ? this.decoder.pcm(mv.s).slice() : new Int16Array(0);
    this.decoder.copy();
    this.loadNext();
    this.present(null);
  }

  closeMovie() {
    if (this.stream) this.stream.cancel();
    this.stream = null;
    const mv = this.movie;
    if (this.audio) {
      // Drops whatever sound is still scheduled, paused or not.
      this.audio.close();
      this.audio = null;
    }
    if (!mv) {
      this.decoder.close();
      return;
    }
    // What the last movie showed, for the page's tests.
    this.lastPlayed = { name: mv.name, frame: mv.s.frame, shown: mv.shown, skippedBlits: mv.skippedBlits,
      soundSkips: mv.soundSkips, syncMedianMs: this.syncMedianMs() };
    this.movie = null;
    this.decoder.close();
    this.ui.stats.textContent = '';
    document.title = 'Kivo Player';
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
      try {
        // At the track's own rate, so that each frame's sound starts on a sample.
        this.audio = new AudioContext({ sampleRate: mv.s.trackRate, latencyHint: 'playback' });
      } catch (e) {
        // A browser that cannot run at that rate resamples the frames' sound instead.
        this.audio = new AudioContext({ latencyHint: 'playback' });
      }
      this.master = this.audio.createGain();
      this.master.connect(this.audio.destination);
      this.applyVolume();
      if (this.audio.state !== 'running') {
        // Browsers hold sound back until the visitor has touched the page.
        const resumed = this.audio.resume();
        const running = await Promise.race([resumed.then(() => true),
          new Promise((r) => setTimeout(() => r(false), 300))]);
        if (mv !== this.movie) return;
        if (!running || this.audio.state !== 'running') {
          this.setHint('Click or press a key to play.');
          this.waitingForGesture = true;
          return;
        }
      }
    }
    this.setHint('');
    this.kick();
  }

  // A key or click while the sound was held back: only one the browser
  // counts as the visitor's activation can start it, and the hint stays
  // until the sound runs.
  gesture() {
    if (!this.waitingForGesture || !this.movie) return false;
    if (navigator.userActivation && !navigator.userActivation.isActive) return false;
    const mv = this.movie;
    this.audio.resume().then(() => {
      if (mv !== this.movie || !this.waitingForGesture || this.audio.state !== 'running') return;
      this.waitingForGesture = false;
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
      // The sound ran dry (the page was held up, or the data was late): it
      // resumes a little later, and the pictures move with it.
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
    node.connect(mv.out);
    node.start(mv.nextSound);
    mv.nextSound += frames / mv.s.trackRate;
  }

  applyVolume() {
    if (this.master) this.master.gain.value = this.muted ? 0 : this.volume;
    this.onChange();
  }

  setVolume(v) {
    this.volume = Math.min(1, Math.max(0, v));
    if (this.volume > 0) this.muted = false;
    this.applyVolume();
  }

  toggleMute() {
    this.muted = !this.muted;
    this.applyVolume();
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

  // The sound of the play from here goes through a gain node of its own,
  // so that a seek can drop what was queued before it.
  newSoundPath() {
    const mv = this.movie;
    if (!mv.sound) return;
    if (mv.out) mv.out.disconnect();
    mv.out = this.audio.createGain();
    mv.out.connect(this.master);
  }

  // Starts the clock of a play at its frame 1: at once for the first play,
  // after the last frame's time (and the sound before) for a loop.
  anchorPlay(first) {
    const mv = this.movie;
    const end = mv.anchor + mv.played * mv.frameSeconds;
    mv.played = 0;
    if (mv.sound) {
      if (first) this.newSoundPath();
      const t = Math.max(this.audio.currentTime + kStartMargin, mv.nextSound);
      mv.anchor = t;
      mv.nextSound = t;
    } else {
      const t = performance.now() / 1000;
      mv.anchor = first ? t : Math.max(t, end);
    }
    if (first && mv.posterPcm) {
      // Frame 1 is on screen already.
      if (mv.sound) this.queueSound(mv.posterPcm);
      mv.played = 1;
      mv.posterPcm = null;
    }
  }

  // Decodes the loaded frame and queues its sound; false after a read error.
  decodeOne() {
    const mv = this.movie;
    if (!this.decoder.decode()) {
      this.endEarly(this.decoder.state().frame);
      return false;
    }
    mv.s = this.decoder.state();
    if (mv.sound) this.queueSound(this.decoder.pcm(mv.s));
    mv.played += 1;
    return true;
  }

  // Loads the frame after the one decoded.
  loadNext() {
    const mv = this.movie;
    this.decoder.next();
    mv.loaded = mv.loaded >= mv.s.frameCount ? 1 : mv.loaded + 1;
  }

  // Whether the loaded frame's packet is there to decode; when the source
  // ended without it, the movie ends with its message.
  arrived() {
    const mv = this.movie;
    if (this.stream.has(mv.loaded)) {
      mv.waitingForData = false;
      return true;
    }
    if (this.stream.done) {
      this.endEarly(mv.loaded);
    } else {
      mv.waitingForData = true;
      this.onChange();
    }
    return false;
  }

  endEarly(frame) {
    const mv = this.movie;
    mv.ended = true;
    this.fail(mv.name, 'the file ends early; frame ' + frame + ' and later cannot be decoded.');
  }

  // More of the movie arrived: a play waiting for it goes on.
  dataArrived() {
    const mv = this.movie;
    this.onChange();
    if (!mv) return;
    if (mv.waitingForData) {
      mv.waitingForData = false;
      this.kick();
    } else if (mv.stillWanted) {
      this.showFrame(mv.stillWanted);
    }
  }

  tick() {
    this.rafPending = false;
    if (this.movie) this.guard(this.movie.name, () => this.cycle());
  }

  cycle() {
    const mv = this.movie;
    if (!mv || mv.ended || this.paused || mv.waitingForData) return;
    // The sound is the clock: while it is held back or resuming, no picture moves.
    if (mv.sound && this.audio.state !== 'running') return;
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
      if (!this.arrived()) return;
      if (!this.decodeOne()) return;
      mv.pendingLast = mv.s.frame >= mv.s.frameCount;
      mv.pendingCopied = this.copyIfOnTime(due);
      this.loadNext();
      mv.pending = true;
      mv.pendingShown = false;
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
    mv.position = (mv.s.frame - 1) * mv.frameSeconds;
    if (due !== null && mv.frameSeconds && mv.offsets.length < 4096) mv.offsets.push(this.now() - due);
    if (this.showStats) this.ui.stats.textContent = this.decoder.statsLine();
    if (mv.shown === 1) this.setIcon();
    this.onChange();
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
    mv.endTimer = setTimeout(() => { if (this.movie === mv) this.openNext(); }, rest * 1000);
    return false;
  }

  // ---- Seeking ----

  // Goes to the key frame at or before `seconds` (within what has arrived):
  // its picture is shown at once, the sound goes on exactly from there.
  seek(seconds) {
    const mv = this.movie;
    if (!mv || !mv.started || !mv.frameSeconds) return;
    const s = mv.s;
    let target = Math.min(s.frameCount, Math.max(1, Math.floor(seconds / mv.frameSeconds + 1e-6) + 1));
    // Only as far as the data reaches.
    if (!this.stream.has(target)) {
      let lo = 1, hi = target;
      while (lo + 1 < hi) {
        const mid = (lo + hi) >> 1;
        if (this.stream.has(mid)) lo = mid; else hi = mid;
      }
      target = lo;
    }
    const key = this.decoder.seek(target);
    // A seek after the last picture, before the movie was let go, keeps it.
    clearTimeout(mv.endTimer);
    mv.loaded = key;
    mv.pending = false;
    mv.ended = false;
    mv.waitingForData = false;
    mv.lateRun = 0;
    mv.played = key - 1;
    if (mv.sound) {
      this.newSoundPath();
      mv.nextSound = this.audio.currentTime + kStartMargin;
      mv.anchor = mv.nextSound - mv.played * mv.frameSeconds;
    } else {
      mv.anchor = performance.now() / 1000 - mv.played * mv.frameSeconds;
      if (this.paused) mv.pausedAt = performance.now() / 1000;
    }
    // The key frame's picture at once; the frame cycle takes it from there
    // as a frame already shown (at the end of the movie, it ends).
    const due = mv.played * mv.frameSeconds;
    if (!this.decodeOne()) return;
    mv.pendingLast = mv.s.frame >= mv.s.frameCount;
    this.decoder.copy();
    this.loadNext();
    this.present(null);
    mv.pending = true;
    mv.pendingShown = true;
    mv.pendingCopied = false;
    mv.pendingDue = due;
    this.kick();
  }

  // Decodes frames 1 to n and shows frame n, paused there (the address's
  // frame=); waits for the data up to it.
  showFrame(n) {
    const mv = this.movie;
    mv.ended = true;
    const last = Math.min(n, mv.s.frameCount);
    if (!this.stream.has(last) && !this.stream.done) {
      mv.stillWanted = n;
      return;
    }
    mv.stillWanted = 0;
    for (let k = 1; k <= last; ++k) {
      if (!this.stream.has(k) || !this.decoder.decode()) {
        this.fail(mv.name, 'the file ends early; frame ' + k + ' and later cannot be decoded.');
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
    const mv = this.movie;
    if (!mv) {
      this.replay();
      return;
    }
    if (mv.ended && !mv.started) {
      // A still (the address's frame=): Play plays the list.
      this.play(this.played);
      return;
    }
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
    this.onChange();
    if (paused === this.paused) return;
    this.paused = paused;
    this.decoder.pause(paused);
    if (mv.sound && this.audio) {
      // One change of the sound after the other, each to the state wanted
      // when its turn comes, so that a quick pause and resume cannot leave
      // the sound running on a paused page; the pictures go on once it runs.
      const audio = this.audio;
      this.audioTurn = this.audioTurn.then(() => {
        if (audio !== this.audio || this.waitingForGesture) return null;
        return this.paused ? audio.suspend() : audio.resume();
      }).then(() => {
        if (audio === this.audio && !this.paused) this.kick();
      }).catch(() => {});
      return;
    }
    if (paused) {
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
    if (mv.pending && mv.pendingShown) {
      // The picture of a seek is on screen already: the step is to the next.
      mv.pending = false;
      if (mv.pendingLast) {
        this.afterLast();
        return;
      }
    }
    if (!mv.pending) {
      if (!this.arrived() || !this.decodeOne()) return;
      mv.pendingLast = mv.s.frame >= mv.s.frameCount;
      mv.pendingCopied = false;
      this.loadNext();
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

  addMessage(text) {
    const m = this.ui.message;
    m.textContent = m.hidden || !m.textContent ? text : m.textContent + '\n' + text;
    m.hidden = false;
  }
  setMessage(text) { this.ui.message.textContent = text; this.ui.message.hidden = !text; }
  setStatus(text) { this.ui.status.textContent = text; }
  setHint(text) { this.ui.hint.textContent = text; }

  // No picture: nothing of an earlier movie stays under a message.
  clearPicture() {
    const c = this.ui.canvas;
    this.ctx2d.clearRect(0, 0, c.width, c.height);
    c.classList.add('empty');
    c.setAttribute('aria-label', 'No picture');
    document.title = 'Kivo Player';
  }

  // The favicon: the movie's first picture, small.
  setIcon() {
    const icon = document.getElementById('icon');
    if (!icon) return;
    const small = document.createElement('canvas');
    small.width = small.height = 32;
    const c = this.ui.canvas;
    const scale = 32 / Math.max(c.width, c.height);
    const w = c.width * scale, h = c.height * scale;
    small.getContext('2d').drawImage(c, (32 - w) / 2, (32 - h) / 2, w, h);
    icon.href = small.toDataURL('image/png');
  }
}

// ---- The page ---------------------------------------------------------------

async function fetchMovie(url) {
  const name = decodeURIComponent(url.split('/').pop() || url);
  const response = await fetch(url);
  if (!response.ok) throw new Error(name + ': cannot be fetched (' + response.status + ' ' + response.statusText + ')');
  return { name, bytes: new Uint8Array(await response.arrayBuffer()) };
}

// Keys that a focused control uses itself: they are not the player's then.
function controlUsesKey(target, key) {
  if (!(target instanceof HTMLElement)) return false;
  if (target instanceof HTMLButtonElement) return key === ' ' || key === 'Enter';
  if (target instanceof HTMLInputElement) {
    if (target.type === 'checkbox') return key === ' ';
    if (target.type === 'range') return /^(Arrow|Home$|End$|Page)/.test(key);
    return true;
  }
  return target.isContentEditable || target instanceof HTMLTextAreaElement || target instanceof HTMLSelectElement;
}

// The picture as large as its room allows, keeping its shape; at a whole
// number of pixels per pixel it stays sharp.
function fitPicture(canvas, room) {
  const w = canvas.width, h = canvas.height;
  const r = room.getBoundingClientRect();
  if (!w || !h || !r.width || !r.height) return;
  let scale = Math.min(r.width / w, r.height / h);
  const whole = Math.floor(scale);
  // Within a few pixels of a whole number, the whole number.
  if (whole >= 1 && (scale - whole) * Math.max(w, h) < 4) scale = whole;
  canvas.style.width = Math.floor(w * scale) + 'px';
  canvas.style.height = Math.floor(h * scale) + 'px';
  canvas.classList.toggle('sharp', Number.isInteger(scale));
}

function startPage() {
  const $ = (id) => document.getElementById(id);
  const ui = {
    canvas: $('picture'), stats: $('stats'), message: $('message'), status: $('status'), hint: $('hint'),
  };
  const params = new URLSearchParams(location.search);
  const track = Number(params.get('track') || 0);
  const withOptions = (list) => list.map((e) => Object.assign(e, { track }));
  let player = null;
  let waiting = null;  // a list chosen while the module loads, played once it is there

  // Every control works from the start; until the module is there a chosen
  // movie waits for it.
  const play = (list, frame = 0) => {
    if (!list.length) return;
    if (player) player.play(withOptions(list), frame);
    else waiting = { list, frame };
  };
  const fileInput = $('file');
  $('open').onclick = () => fileInput.click();
  fileInput.onchange = () => {
    const list = Array.from(fileInput.files, (file) => ({ name: file.name, file }));
    // Cleared, so that choosing the same file again is a change too.
    fileInput.value = '';
    play(list);
  };
  const drop = document.body;
  drop.addEventListener('dragover', (e) => { e.preventDefault(); drop.classList.add('dropping'); });
  drop.addEventListener('dragleave', () => drop.classList.remove('dropping'));
  drop.addEventListener('drop', (e) => {
    e.preventDefault();
    drop.classList.remove('dropping');
    play(Array.from(e.dataTransfer.files, (file) => ({ name: file.name, file })));
  });
  // An installed page chosen to open .kiv files.
  if ('launchQueue' in window) {
    window.launchQueue.setConsumer(async (launch) => {
      const list = [];
      for (const handle of launch.files || []) {
        const file = await handle.getFile();
        list.push({ name: file.name, file });
      }
      play(list);
    });
  }

  const pauseButton = $('pause');
  const seekBar = $('seek');
  const timeText = $('time');
  const volume = $('volume');
  const muteButton = $('mute');
  const stage = $('stage');
  const loopBox = $('loop');
  const statsBox = $('show-stats');
  loopBox.checked = params.get('loop') === '1';
  statsBox.checked = params.get('stats') === '1';
  const act = (f) => () => { if (player) f(player); };
  pauseButton.onclick = act((p) => p.togglePause());
  $('next').onclick = act((p) => p.openNext());
  $('stop').onclick = act((p) => p.stop());
  muteButton.onclick = act((p) => p.toggleMute());
  volume.oninput = act((p) => p.setVolume(Number(volume.value)));
  seekBar.oninput = act((p) => p.seek(Number(seekBar.value)));
  loopBox.onchange = act((p) => { p.loop = loopBox.checked; });
  statsBox.onchange = act((p) => {
    p.showStats = statsBox.checked;
    if (!p.showStats) ui.stats.textContent = '';
  });
  const fullscreen = () => {
    if (document.fullscreenElement) document.exitFullscreen().catch(() => {});
    else if (stage.requestFullscreen) stage.requestFullscreen().catch(() => {});
  };
  $('fullscreen').onclick = fullscreen;
  ui.canvas.addEventListener('dblclick', fullscreen);
  const fit = () => fitPicture(ui.canvas, stage);
  new ResizeObserver(fit).observe(stage);

  // The controls follow the player.
  const follow = () => {
    const mv = player.movie;
    const playing = mv && mv.started && !mv.ended && !player.userPaused;
    pauseButton.textContent = playing ? 'Pause' : 'Play';
    pauseButton.setAttribute('aria-label', playing ? 'Pause' : 'Play');
    seekBar.disabled = !mv || !mv.frameSeconds;
    if (mv) {
      seekBar.max = String(mv.duration);
      seekBar.step = String(mv.frameSeconds || 1);
      if (document.activeElement !== seekBar || !seekBar.matches(':active')) seekBar.value = String(mv.position);
      const text = formatTime(mv.position) + ' / ' + formatTime(mv.duration);
      timeText.textContent = text + (mv.waitingForData ? ' (loading\u2026)' : '');
      seekBar.setAttribute('aria-valuetext', formatTime(mv.position) + ' of ' + formatTime(mv.duration));
    } else {
      seekBar.value = '0';
      timeText.textContent = '0:00 / 0:00';
    }
    muteButton.textContent = player.muted ? 'Unmute' : 'Mute';
    muteButton.setAttribute('aria-pressed', String(player.muted));
    volume.value = String(player.volume);
    fit();
  };

  document.addEventListener('pointerdown', () => { if (player) player.gesture(); });
  document.addEventListener('visibilitychange', () => { if (player) player.setHidden(document.hidden); });
  document.addEventListener('keydown', (e) => {
    if (!player || e.ctrlKey || e.altKey || e.metaKey) return;
    // While the sound waits for the visitor, a key is only that: keys the
    // browser does not count as activation (Esc, Shift, Ctrl) leave it waiting.
    if (player.waitingForGesture) {
      player.gesture();
      return;
    }
    if (controlUsesKey(e.target, e.key)) return;
    const mv = player.movie;
    const at = mv ? mv.position : 0;
    if (e.key === ' ') player.togglePause();
    else if (e.key === 'Enter') player.step();
    else if (e.key === '.') player.openNext();
    else if (e.key === 'Escape') player.stop();
    else if (e.key === 'ArrowLeft') player.seek(at - kSeekStep);
    else if (e.key === 'ArrowRight') player.seek(at + kSeekStep);
    else if (e.key === 'Home') player.seek(0);
    else if (e.key === 'End' && mv) player.seek(mv.duration);
    else if (e.key === 'm' || e.key === 'M') player.toggleMute();
    else if (e.key === 'f' || e.key === 'F') fullscreen();
    else return;
    e.preventDefault();
  });

  if ('serviceWorker' in navigator && location.protocol !== 'file:') {
    navigator.serviceWorker.register('sw.js').catch(() => {});
  }

  // The address's first movie comes over the network beside the module.
  const named = params.getAll('movie').map((url) => ({ name: decodeURIComponent(url.split('/').pop() || url), url }));
  if (named.length) {
    named[0].early = fetch(named[0].url);
    named[0].early.catch(() => {});  // its failure is told when the movie is reached
  }

  const ready = (async () => {
    let decoder;
    try {
      decoder = await KivoDecoder.load();
    } catch (e) {
      ui.message.textContent = 'The decoder cannot be loaded in this browser: ' + e;
      ui.message.hidden = false;
      ui.hint.textContent = '';
      return null;
    }
    player = new KivoPlayer(decoder, ui);
    player.onChange = follow;
    player.loop = loopBox.checked;
    player.showStats = statsBox.checked;
    window.kivoPage = { decoder, player, KivoDecoder, fetchMovie };
    document.body.classList.remove('loading');
    ui.hint.textContent = 'Open or drop a .kiv movie here.';
    follow();
    const frame = Number(params.get('frame') || 0);
    if (waiting) play(waiting.list, waiting.frame);
    else if (named.length) play(named, frame);
    return player;
  })();
  return ready;
}
