#!/usr/bin/env python3
# SPDX-License-Identifier: BSD-2-Clause
"""Tests the player page in headless Chromium against kivdump's output.

Serves a folder (the built page plus the test movies) on 127.0.0.1 and drives
Chromium through the DevTools protocol over a pipe (--remote-debugging-pipe:
no sockets, no packages beyond Python's own). Usage:

  drive.py --site DIR --refs DIR [--chromium PATH] [--bench MOVIE]

DIR of --refs holds what scripts/test-web made: demo.kiv with kivdump's
demo.y4m, demo.pcm and demo-png/, alpha.kiv with alpha.y4m and alpha.alpha,
and the damaged movies. Prints one line per check; exit code 1 on a failure.
"""
import argparse
import base64
import functools
import http.server
import json
import os
import shutil
import struct
import subprocess
import sys
import tempfile
import threading
import time
import zlib

FAILURES = []


def check(ok, what, detail=''):
    print(('ok    ' if ok else 'FAIL  ') + what + (': ' + detail if detail else ''), flush=True)
    if not ok:
        FAILURES.append(what)


class Browser:
    """Headless Chromium with one page, spoken to over the DevTools pipe."""

    def __init__(self, chromium, log, autoplay=True):
        self.profile = tempfile.mkdtemp(prefix='kivo-chromium-')
        to_child_r, self.to_child = os.pipe()
        self.from_child, from_child_w = os.pipe()

        def pipes():
            # The protocol's pipe: Chromium reads fd 3 and writes fd 4.
            os.dup2(to_child_r, 3)
            os.dup2(from_child_w, 4)

        args = [chromium, '--headless=new', '--no-sandbox', '--disable-gpu', '--no-first-run',
                '--disable-background-networking', '--disable-component-update', '--disable-sync',
                '--user-data-dir=' + self.profile, '--remote-debugging-pipe', '--force-color-profile=srgb',
                '--force-device-scale-factor=1', '--window-size=1024,768', 'about:blank']
        if autoplay:
            args.insert(-1, '--autoplay-policy=no-user-gesture-required')
        self.proc = subprocess.Popen(args, preexec_fn=pipes, close_fds=False, stdin=subprocess.DEVNULL,
                                     stdout=log, stderr=log)
        os.close(to_child_r)
        os.close(from_child_w)
        self.next_id = 0
        self.replies = {}
        self.events = []
        self.lock = threading.Condition()
        threading.Thread(target=self._read, daemon=True).start()
        target = self.call('Target.createTarget', {'url': 'about:blank'})['targetId']
        self.session = self.call('Target.attachToTarget', {'targetId': target, 'flatten': True})['sessionId']
        self.call('Page.enable', session=True)
        self.call('Runtime.enable', session=True)

    def _read(self):
        data = b''
        while True:
            chunk = os.read(self.from_child, 1 << 16)
            if not chunk:
                break
            data += chunk
            while b'\0' in data:
                raw, data = data.split(b'\0', 1)
                message = json.loads(raw)
                with self.lock:
                    if 'id' in message:
                        self.replies[message['id']] = message
                    else:
                        self.events.append(message)
                    self.lock.notify_all()

    def call(self, method, params=None, session=False, timeout=30):
        with self.lock:
            self.next_id += 1
            ident = self.next_id
        message = {'id': ident, 'method': method, 'params': params or {}}
        if session:
            message['sessionId'] = self.session
        os.write(self.to_child, json.dumps(message).encode() + b'\0')
        deadline = time.monotonic() + timeout
        with self.lock:
            while ident not in self.replies:
                left = deadline - time.monotonic()
                if left <= 0:
                    raise TimeoutError(method + ' got no answer in %d s (the page hangs?)' % timeout)
                self.lock.wait(left)
            reply = self.replies.pop(ident)
        if 'error' in reply:
            raise RuntimeError(method + ': ' + reply['error'].get('message', str(reply['error'])))
        return reply['result']

    def navigate(self, url, timeout=30):
        with self.lock:
            self.events.clear()
        self.call('Page.navigate', {'url': url}, session=True)
        deadline = time.monotonic() + timeout
        with self.lock:
            while not any(e.get('method') == 'Page.loadEventFired' for e in self.events):
                left = deadline - time.monotonic()
                if left <= 0:
                    raise TimeoutError('page load of ' + url)
                self.lock.wait(left)

    def evaluate(self, expression, timeout=30):
        result = self.call('Runtime.evaluate', {'expression': expression, 'awaitPromise': True,
                                                'returnByValue': True}, session=True, timeout=timeout)
        if 'exceptionDetails' in result:
            details = result['exceptionDetails']
            raise RuntimeError(details.get('exception', {}).get('description') or details.get('text'))
        return result['result'].get('value')

    def wait_for(self, expression, timeout=20):
        """Polls until the expression is truthy; its value, or None at the timeout."""
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline:
            value = self.evaluate(expression, timeout=10)
            if value:
                return value
            time.sleep(0.1)
        return None

    def console_errors(self):
        with self.lock:
            return [e for e in self.events if e.get('method') == 'Runtime.exceptionThrown']

    def close(self):
        try:
            self.call('Browser.close', timeout=5)
        except Exception:
            pass
        try:
            self.proc.wait(timeout=10)
        except subprocess.TimeoutExpired:
            self.proc.kill()
            self.proc.wait()
        shutil.rmtree(self.profile, ignore_errors=True)


def serve(folder):
    class Handler(http.server.SimpleHTTPRequestHandler):
        extensions_map = dict(http.server.SimpleHTTPRequestHandler.extensions_map,
                              **{'.wasm': 'application/wasm', '.js': 'text/javascript'})

        def log_message(self, *args):
            pass

    server = http.server.ThreadingHTTPServer(('127.0.0.1', 0), functools.partial(Handler, directory=folder))
    threading.Thread(target=server.serve_forever, daemon=True).start()
    return server, 'http://127.0.0.1:%d/' % server.server_address[1]


def y4m_frames(path):
    """Per-frame CRC-32 of a Y4M file's Y, U and V planes (4:2:0)."""
    with open(path, 'rb') as f:
        data = f.read()
    header, rest = data.split(b'\n', 1)
    fields = {w[:1]: w[1:] for w in header.split()[1:]}
    width, height = int(fields[b'W']), int(fields[b'H'])
    size = width * height + 2 * ((width + 1) // 2) * ((height + 1) // 2)
    crcs = []
    while rest:
        line, rest = rest.split(b'\n', 1)
        assert line.startswith(b'FRAME'), line
        crcs.append(zlib.crc32(rest[:size]))
        rest = rest[size:]
    return crcs


def plane_crcs(path, width, height):
    with open(path, 'rb') as f:
        data = f.read()
    size = width * height
    return [zlib.crc32(data[i:i + size]) for i in range(0, len(data), size)]


def read_png(data):
    """Width, height and rows of RGB bytes of an 8-bit RGB or RGBA PNG."""
    assert data[:8] == b'\x89PNG\r\n\x1a\n'
    pos, idat, width = 8, b'', 0
    while pos < len(data):
        length, kind = struct.unpack('>I4s', data[pos:pos + 8])
        body = data[pos + 8:pos + 8 + length]
        if kind == b'IHDR':
            width, height, depth, colour, _, _, interlace = struct.unpack('>IIBBBBB', body)
            assert depth == 8 and colour in (2, 6) and interlace == 0, (depth, colour, interlace)
            channels = 3 if colour == 2 else 4
        elif kind == b'IDAT':
            idat += body
        pos += 12 + length
    raw = zlib.decompress(idat)
    stride = width * channels
    rows, previous = [], bytearray(stride)
    for y in range(height):
        kind = raw[y * (stride + 1)]
        row = bytearray(raw[y * (stride + 1) + 1:(y + 1) * (stride + 1)])
        for i in range(stride):
            a = row[i - channels] if i >= channels else 0
            b = previous[i]
            c = previous[i - channels] if i >= channels else 0
            if kind == 1:
                row[i] = (row[i] + a) & 255
            elif kind == 2:
                row[i] = (row[i] + b) & 255
            elif kind == 3:
                row[i] = (row[i] + (a + b) // 2) & 255
            elif kind == 4:
                p = a + b - c
                pa, pb, pc = abs(p - a), abs(p - b), abs(p - c)
                row[i] = (row[i] + (a if pa <= pb and pa <= pc else b if pb <= pc else c)) & 255
        rows.append(bytes(row) if channels == 3 else bytes(v for i, v in enumerate(row) if i % 4 != 3))
        previous = row
    return width, height, rows


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument('--site', required=True)
    parser.add_argument('--refs', required=True)
    parser.add_argument('--chromium', default=shutil.which('chromium') or 'chromium')
    parser.add_argument('--frame', type=int, default=30, help='the frame of demo.kiv to take a screenshot of')
    parser.add_argument('--bench', help='also report decoding speed on this movie (a path)')
    args = parser.parse_args()

    root = tempfile.mkdtemp(prefix='kivo-web-')
    try:
        return run(args, root)
    finally:
        shutil.rmtree(root, ignore_errors=True)


def run(args, root):
    for folder in (args.site, args.refs):
        for name in os.listdir(folder):
            if not os.path.exists(os.path.join(root, name)):
                os.symlink(os.path.abspath(os.path.join(folder, name)), os.path.join(root, name))
    if args.bench:
        os.symlink(os.path.abspath(args.bench), os.path.join(root, 'bench.kiv'))
    server, base = serve(root)
    log = open(os.path.join(args.refs, 'chromium.log'), 'wb')
    browser = Browser(args.chromium, log)
    refs = args.refs
    try:
        browser.call('Emulation.setDeviceMetricsOverride', {'width': 1024, 'height': 768, 'deviceScaleFactor': 1,
                                                            'mobile': False}, session=True)
        probe = open(os.path.join(os.path.dirname(os.path.abspath(__file__)), 'probe.js')).read()

        def open_page(query=''):
            browser.navigate(base + 'index.html' + query)
            if not browser.wait_for('!!window.kivoPage'):
                raise RuntimeError('the page did not start: ' + json.dumps(browser.console_errors())[:500])
            browser.evaluate(probe)

        # 1. Every frame's planes and the sound's PCM, against kivdump.
        open_page()
        for movie, with_alpha in (('demo', False), ('alpha', True)):
            got = browser.evaluate('kivoProbe.decodeAll(%s)' % json.dumps(movie + '.kiv'), timeout=60)
            want = y4m_frames(os.path.join(refs, movie + '.y4m'))
            check(not got.get('error'), movie + '.kiv opens and decodes', got.get('error', ''))
            frames = got.get('frames', [])
            bad = [i + 1 for i, (a, b) in enumerate(zip(frames, want)) if a != b]
            check(len(frames) == len(want) and not bad, movie + '.kiv: every frame\'s planes as kivdump\'s',
                  '%d frames, %d differ%s' % (len(frames), len(bad), ' (first: %d)' % bad[0] if bad else ''))
            if with_alpha:
                want_alpha = plane_crcs(os.path.join(refs, 'alpha.alpha'), got['width'], got['height'])
                check(got.get('alpha') == want_alpha, 'alpha.kiv: every frame\'s alpha plane as kivdump\'s',
                      '%d planes' % len(got.get('alpha', [])))
            else:
                with open(os.path.join(refs, movie + '.pcm'), 'rb') as f:
                    pcm = f.read()
                check(got.get('pcmBytes') == len(pcm) and got.get('pcmCrc') == zlib.crc32(pcm),
                      movie + '.kiv: the sound track\'s PCM as kivdump\'s',
                      '%s bytes, kivdump %d' % (got.get('pcmBytes'), len(pcm)))

        # 2. A screenshot of the canvas at a known frame against kivdump --png.
        open_page('?movie=demo.kiv&frame=%d' % args.frame)
        state = browser.wait_for('kivoProbe.player().movie && kivoProbe.player().movie.shown === 1 && '
                                 'kivoProbe.player()')
        check(bool(state), 'the page shows frame %d of demo.kiv' % args.frame)
        if state:
            r = state['canvas']
            shot = browser.call('Page.captureScreenshot', {'format': 'png', 'clip': {
                'x': r['x'], 'y': r['y'], 'width': r['width'], 'height': r['height'], 'scale': 1}}, session=True)
            png = base64.b64decode(shot['data'])
            with open(os.path.join(refs, 'screenshot.png'), 'wb') as f:
                f.write(png)
            w, h, rows = read_png(png)
            with open(os.path.join(refs, 'demo-png', 'frame%05d.png' % args.frame), 'rb') as f:
                w2, h2, rows2 = read_png(f.read())
            differing = sum(1 for a, b in zip(b''.join(rows), b''.join(rows2)) if a != b)
            check((w, h) == (w2, h2) and differing == 0, 'screenshot of frame %d as kivdump --png' % args.frame,
                  '%dx%d against %dx%d, %d of %d bytes differ' % (w, h, w2, h2, differing, len(b''.join(rows2))))

        # 3. Playing: keys, the statistics line, the sound clock.
        open_page('?movie=demo.kiv&movie=alpha.kiv&stats=1&loop=1')
        state = browser.wait_for('kivoProbe.player().movie && kivoProbe.player().movie.shown >= 10 && '
                                 'kivoProbe.player()')
        check(bool(state) and state['movie']['sound'] and state['audio'] == 'running',
              'demo.kiv plays with its sound', json.dumps(state and state['movie']))
        check(bool(state) and state['stats'].startswith('Fr: '), 'the statistics line is shown',
              state and state['stats'])

        def key(k, code, vk):
            for kind in ('keyDown', 'keyUp'):
                browser.call('Input.dispatchKeyEvent', {'type': kind, 'key': k, 'code': code,
                                                        'windowsVirtualKeyCode': vk,
                                                        'text': {'Escape': '', 'Enter': '\r'}.get(k, k)},
                         session=True)

        key(' ', 'Space', 32)
        paused = browser.evaluate('kivoProbe.player()')
        time.sleep(0.5)
        later = browser.evaluate('kivoProbe.player()')
        check(paused['paused'] and later['movie']['shown'] == paused['movie']['shown'],
              'space pauses (no picture while paused)', '%d then %d' % (paused['movie']['shown'],
                                                                      later['movie']['shown']))
        key('Enter', 'Enter', 13)
        stepped = browser.wait_for('kivoProbe.player().movie.shown === %d && kivoProbe.player()'
                                   % (later['movie']['shown'] + 1), timeout=5)
        time.sleep(0.3)
        still = browser.evaluate('kivoProbe.player()')
        check(bool(stepped) and still['paused'] and still['movie']['shown'] == later['movie']['shown'] + 1,
              'Enter while paused shows one frame more')
        key(' ', 'Space', 32)
        # Resumed means the sound runs again too, so that the hiding below
        # starts from a playing page.
        resumed = browser.wait_for('kivoProbe.player().movie.shown > %d && '
                                   'kivoProbe.player().audio === "running" && kivoProbe.player()'
                                   % later['movie']['shown'], timeout=10)
        check(bool(resumed) and not resumed['paused'], 'space again resumes')
        def hide(hidden):
            browser.evaluate('Object.defineProperty(document, "hidden", {configurable: true, get: () => %s}); '
                             'document.dispatchEvent(new Event("visibilitychange"))' % ('true' if hidden else 'false'))

        hide(True)
        hidden = browser.wait_for('kivoProbe.player().audio === "suspended" && kivoProbe.player()', timeout=10)
        time.sleep(0.5)
        still = browser.evaluate('kivoProbe.player()')
        check(bool(hidden) and still['movie']['shown'] == hidden['movie']['shown'],
              'a hidden page pauses the movie and its sound',
              'at the suspend: %s; 0.5 s later: paused %s, audio %s, shown %d'
              % (json.dumps(hidden and hidden['movie']), still['paused'], still['audio'],
                 still['movie']['shown']))
        hide(False)
        # The picture may move on before the sound's resume is reported.
        shown = browser.wait_for('kivoProbe.player().movie.shown > %d && '
                                 'kivoProbe.player().audio === "running" && kivoProbe.player()'
                                 % still['movie']['shown'], timeout=10)
        check(bool(shown), 'shown again, it plays on')
        key('.', 'Period', 190)
        nxt = browser.wait_for('kivoProbe.player().movie && kivoProbe.player().movie.name === "alpha.kiv" && '
                               'kivoProbe.player()', timeout=10)
        check(bool(nxt) and nxt['alpha'], '"." goes on to the next movie (alpha.kiv, over a checkerboard)')
        key('Escape', 'Escape', 27)
        stopped = browser.wait_for('!kivoProbe.player().movie && kivoProbe.player()', timeout=10)
        check(bool(stopped), 'Esc stops')

        # Opening a file with the page's button.
        document = browser.call('DOM.getDocument', session=True)['root']['nodeId']
        node = browser.call('DOM.querySelector', {'nodeId': document, 'selector': '#file'}, session=True)['nodeId']
        browser.call('DOM.setFileInputFiles', {'nodeId': node, 'files': [
            os.path.abspath(os.path.join(refs, 'alpha.kiv'))]}, session=True)
        chosen = browser.wait_for('kivoProbe.player().movie && kivoProbe.player().movie.shown >= 2 && '
                                  'kivoProbe.player()', timeout=10)
        check(bool(chosen) and chosen['movie']['name'] == 'alpha.kiv', 'a movie chosen with "Open movies" plays')

        # The sound clock over a whole play (reported; a loaded machine moves it).
        open_page('?movie=demo.kiv')
        done = browser.wait_for('!kivoProbe.player().movie && kivoProbe.player().last', timeout=30)
        check(bool(done) and done['frame'] == 50, 'demo.kiv plays to its last frame',
              done and 'shown %d, copies skipped %d, sound skips %d, picture after sound: median %.1f ms' % (
                  done['shown'], done['skippedBlits'], done['soundSkips'], done['syncMedianMs'] or 0))

        # A single movie looping goes on from its last frame to frame 1.
        open_page('?movie=alpha.kiv&loop=1')
        looped = browser.wait_for('kivoProbe.player().movie && kivoProbe.player().movie.shown >= 9 && '
                                  'kivoProbe.player()', timeout=15)
        check(bool(looped) and looped['movie']['name'] == 'alpha.kiv' and not looped['message'],
              'alpha.kiv (6 frames) with loop=1 plays on past its last frame',
              looped and 'shown %d' % looped['movie']['shown'])

        # 4. Damaged movies: one message each, and the page still answers.
        for name, expected in (('not-a-movie.kiv', 'Not a Kivo file'), ('truncated.kiv', 'ends early'),
                               ('scrambled.kiv', None), ('empty.kiv', None)):
            open_page('?movie=' + name)
            state = browser.wait_for('(kivoProbe.player().message || kivoProbe.player().last) && kivoProbe.player()',
                                     timeout=30)
            answered = browser.evaluate('1 + 1', timeout=5) == 2
            if expected:
                check(bool(state) and expected in state['message'] and answered,
                      name + ' gives its message', state and state['message'])
            else:
                check(bool(state) and answered, name + ' gives a message or plays to its end',
                      state and (state['message'] or 'played to frame %d' % state['last']['frame']))

        errors = browser.console_errors()
        check(not errors, 'no uncaught script errors', json.dumps(errors)[:400])

        # 5. As a visitor's browser does: sound held back until the page is touched.
        shy = Browser(args.chromium, log, autoplay=False)
        try:
            shy.navigate(base + 'index.html?movie=demo.kiv')
            shy.wait_for('!!window.kivoPage')
            shy.evaluate(probe)
            waiting = shy.wait_for('kivoProbe.player().movie && /Click/.test(document.getElementById("hint")'
                                   '.textContent) && kivoProbe.player()', timeout=10)
            time.sleep(0.3)
            still = shy.evaluate('kivoProbe.player()')
            check(bool(waiting) and still['movie']['shown'] == 0, 'without autoplay the movie waits for a touch')
            for kind in ('mousePressed', 'mouseReleased'):
                shy.call('Input.dispatchMouseEvent', {'type': kind, 'x': 500, 'y': 200, 'button': 'left',
                                                      'clickCount': 1}, session=True)
            playing = shy.wait_for('kivoProbe.player().movie && kivoProbe.player().movie.shown >= 5 && '
                                   'kivoProbe.player()', timeout=10)
            check(bool(playing) and playing['audio'] == 'running', 'a click starts it with its sound')
        finally:
            shy.close()

        if args.bench:
            browser.navigate(base + 'bench.html?movie=bench.kiv&seconds=5')
            fps = browser.wait_for('document.getElementById("result").dataset.best || '
                                   'document.getElementById("result").dataset.error && "error"', timeout=60)
            text = browser.evaluate('document.getElementById("result").textContent')
            print('bench ' + text, flush=True)
    finally:
        browser.close()
        server.shutdown()
    if FAILURES:
        print('%d check(s) failed' % len(FAILURES))
        return 1
    return 0


if __name__ == '__main__':
    sys.exit(main())
