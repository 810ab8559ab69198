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


def serve(folder, requests):
    """Serves `folder`; a path under /slow-N/ is served at N bytes a second.
    Every request's path goes to `requests`, in order."""
    class Handler(http.server.SimpleHTTPRequestHandler):
        extensions_map = dict(http.server.SimpleHTTPRequestHandler.extensions_map,
                              **{'.wasm': 'application/wasm', '.js': 'text/javascript',
                                 '.webmanifest': 'application/manifest+json'})
        rate = 0

        def translate_path(self, path):
            requests.append(path)
            parts = path.split('/', 2)
            if len(parts) == 3 and parts[1].startswith('slow-'):
                self.rate = int(parts[1][5:])
                path = '/' + parts[2]
            return super().translate_path(path)

        def copyfile(self, source, outputfile):
            if not self.rate:
                return super().copyfile(source, outputfile)
            step = max(1, self.rate // 20)
            while True:
                chunk = source.read(step)
                if not chunk:
                    break
                try:
                    outputfile.write(chunk)
                    outputfile.flush()
                except ConnectionError:
                    return  # the page let the download go
                time.sleep(0.05)

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
    parser.add_argument('--first-picture', type=int, metavar='N',
                        help='only measure the time from navigation to the first picture of demo.kiv over a '
                             '1 MB/s link, N loads, and print the median')
    args = parser.parse_args()

    root = tempfile.mkdtemp(prefix='kivo-web-')
    try:
        return run(args, root)
    finally:
        shutil.rmtree(root, ignore_errors=True)


def png_rgb_crc(path):
    with open(path, 'rb') as f:
        w, h, rows = read_png(f.read())
    return {'width': w, 'height': h, 'crc': zlib.crc32(b''.join(rows))}


def first_picture(browser, base, loads):
    """Milliseconds from the navigation to the first picture drawn, over a
    1 MB/s link with nothing cached: the median of `loads` loads."""
    browser.call('Network.enable', session=True)
    browser.call('Network.setCacheDisabled', {'cacheDisabled': True}, session=True)
    browser.call('Network.setBypassServiceWorker', {'bypass': True}, session=True)
    browser.call('Page.addScriptToEvaluateOnNewDocument', {'source': (
        'const put = CanvasRenderingContext2D.prototype.putImageData;'
        'CanvasRenderingContext2D.prototype.putImageData = function (...a) {'
        '  if (!window.firstPicture) window.firstPicture = performance.now();'
        '  return put.apply(this, a); };')}, session=True)
    times = []
    for _ in range(loads):
        browser.navigate(base + 'slow-1000000/index.html?movie=demo.kiv')
        times.append(browser.wait_for('window.firstPicture', timeout=30))
    times.sort()
    print('first picture of demo.kiv at 1 MB/s: median %.0f ms of %s' % (
        times[len(times) // 2], ' '.join('%.0f' % t for t in times)), flush=True)
    return 0


def run(args, root):
    for folder in (args.site, args.refs):
        for name in os.listdir(folder):
            if not os.path.exists(os.path.join(root, name)):
                os.symlink(os.path.abspath(os.path.join(folder, name)), os.path.join(root, name))
    if args.bench:
        os.symlink(os.path.abspath(args.bench), os.path.join(root, 'bench.kiv'))
    requests = []
    server, base = serve(root, requests)
    log = open(os.path.join(args.refs, 'chromium.log'), 'wb')
    browser = Browser(args.chromium, log)
    refs = args.refs
    if args.first_picture:
        try:
            return first_picture(browser, base, args.first_picture)
        finally:
            browser.close()
            server.shutdown()
    with open(os.path.join(refs, 'keyed.json')) as f:
        keys = [e['frame'] for e in json.load(f)['frames'] if e['key']]

    def view(b, width, height):
        b.call('Emulation.setDeviceMetricsOverride', {'width': width, 'height': height, 'deviceScaleFactor': 1,
                                                      'mobile': width < 600}, session=True)

    def press(b, k, code, vk):
        for kind in ('keyDown', 'keyUp'):
            b.call('Input.dispatchKeyEvent', {'type': kind, 'key': k, 'code': code, 'windowsVirtualKeyCode': vk,
                                              'text': {'Escape': '', 'Enter': '\r', 'Shift': '', 'Control': '',
                                                       'Tab': '', 'End': '', 'Home': '', 'ArrowLeft': ''}.get(k, k)},
                   session=True)

    def key(k, code, vk):
        press(browser, k, code, vk)

    def player(b=browser):
        return b.evaluate('kivoProbe.player()')

    try:
        view(browser, 1024, 768)
        probe = open(os.path.join(os.path.dirname(os.path.abspath(__file__)), 'probe.js')).read()

        def open_page(query='', path='index.html', b=browser):
            b.navigate(base + path + query)
            if not b.wait_for('!!window.kivoPage'):
                raise RuntimeError('the page did not start: ' + json.dumps(b.console_errors())[:500])
            b.evaluate(probe)

        # 1. Every frame's planes and the sound's PCM, against kivdump.
        open_page()
        decoded = {}
        for movie, with_alpha in (('demo', False), ('alpha', True), ('keyed', False)):
            got = decoded[movie] = browser.evaluate('kivoProbe.decodeAll(%s)' % json.dumps(movie + '.kiv'), timeout=60)
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

        # 2. The picture drawn at a known frame against kivdump --png.
        open_page('?movie=demo.kiv&frame=%d' % args.frame)
        state = browser.wait_for('kivoProbe.player().movie && kivoProbe.player().movie.shown === 1 && '
                                 'kivoProbe.player()')
        drawn = browser.evaluate('kivoProbe.pictureCrc()')
        want = png_rgb_crc(os.path.join(refs, 'demo-png', 'frame%05d.png' % args.frame))
        check(bool(state) and drawn == want, 'the page draws frame %d of demo.kiv as kivdump --png' % args.frame,
              '%s against %s' % (drawn, want))

        # 3. Playing: keys, controls, the statistics line, the sound clock.
        open_page('?movie=demo.kiv&movie=alpha.kiv&stats=1&loop=1')
        state = browser.wait_for('kivoProbe.player().movie && kivoProbe.player().movie.shown >= 10 && '
                                 'kivoProbe.player()')
        check(bool(state) and state['movie']['sound'] and state['audio'] == 'running',
              'demo.kiv plays with its sound', json.dumps(state and state['movie']))
        check(bool(state) and state['stats'].startswith('Fr: '), 'the statistics line is shown',
              state and state['stats'])
        key(' ', 'Space', 32)
        paused = player()
        time.sleep(0.5)
        later = player()
        check(paused['paused'] and later['movie']['shown'] == paused['movie']['shown'] and
              later['pauseButton'] == 'Play', 'space pauses (no picture while paused; the button says Play)',
              '%d then %d, %s' % (paused['movie']['shown'], later['movie']['shown'], later['pauseButton']))
        key('Enter', 'Enter', 13)
        stepped = browser.wait_for('kivoProbe.player().movie.shown === %d && kivoProbe.player()'
                                   % (later['movie']['shown'] + 1), timeout=5)
        time.sleep(0.3)
        still = player()
        check(bool(stepped) and still['paused'] and still['movie']['shown'] == later['movie']['shown'] + 1,
              'Enter while paused shows one frame more')
        # demo.kiv has no key frame but the first: a seek anywhere shows frame 1.
        browser.evaluate('kivoProbe.seekBar(1.2)')
        sought = browser.wait_for('kivoProbe.player().movie.frame === 1 && kivoProbe.pictureCrc()', timeout=5)
        check(sought == png_rgb_crc(os.path.join(refs, 'demo-png', 'frame00001.png')),
              'a seek in a movie with one key frame shows frame 1')
        still = player()
        key(' ', 'Space', 32)
        # The sound is the clock: a picture after the resume means it runs.
        resumed = browser.wait_for('kivoProbe.player().movie.shown > %d && kivoProbe.player()'
                                   % still['movie']['shown'], timeout=10)
        check(bool(resumed) and not resumed['paused'] and resumed['audio'] == 'running'
              and resumed['pauseButton'] == 'Pause', 'space again resumes, with the sound',
              resumed and 'audio %s' % resumed['audio'])

        def hide(hidden):
            browser.evaluate('Object.defineProperty(document, "hidden", {configurable: true, get: () => %s}); '
                             'document.dispatchEvent(new Event("visibilitychange"))' % ('true' if hidden else 'false'))

        hide(True)
        hidden = browser.wait_for('kivoProbe.player().audio === "suspended" && kivoProbe.player()', timeout=10)
        time.sleep(0.5)
        still = player()
        check(bool(hidden) and still['movie']['shown'] == hidden['movie']['shown'],
              'a hidden page pauses the movie and its sound',
              'at the suspend: %s; 0.5 s later: paused %s, audio %s, shown %d'
              % (json.dumps(hidden and hidden['movie']), still['paused'], still['audio'],
                 still['movie']['shown']))
        hide(False)
        shown = browser.wait_for('kivoProbe.player().movie.shown > %d && kivoProbe.player()'
                                 % still['movie']['shown'], timeout=10)
        check(bool(shown) and shown['audio'] == 'running', 'shown again, it plays on with its sound',
              shown and 'audio %s' % shown['audio'])
        key('m', 'KeyM', 77)
        muted = player()
        key('m', 'KeyM', 77)
        check(muted['gain'] == 0 and player()['gain'] == 1, 'M mutes and unmutes', 'gain %s' % muted['gain'])
        key('f', 'KeyF', 70)
        full = browser.wait_for('kivoProbe.player().fullscreen', timeout=5)
        key('f', 'KeyF', 70)
        check(full == 'stage' and browser.wait_for('!kivoProbe.player().fullscreen', timeout=5),
              'F puts the picture full screen and back', str(full))
        browser.evaluate('document.getElementById("loop").focus()')
        key(' ', 'Space', 32)
        time.sleep(0.2)
        boxed = browser.evaluate('[document.getElementById("loop").checked, kivoProbe.player().paused]')
        key(' ', 'Space', 32)
        check(boxed == [False, False] and browser.evaluate('document.getElementById("loop").checked'),
              'space on the focused Loop box toggles it, not the movie', str(boxed))
        key('.', 'Period', 190)
        nxt = browser.wait_for('kivoProbe.player().movie && kivoProbe.player().movie.name === "alpha.kiv" && '
                               'kivoProbe.player()', timeout=10)
        check(bool(nxt) and nxt['alpha'] and nxt['title'].startswith('alpha.kiv'),
              '"." goes on to the next movie (alpha.kiv, over a checkerboard, named in the title)')
        browser.evaluate('document.getElementById("stop").focus()')
        key('Enter', 'Enter', 13)
        # The list loops: only a stop leaves it without a movie and says so.
        check(bool(browser.wait_for('!kivoProbe.player().movie && kivoProbe.player().status === "Stopped."',
                                    timeout=10)), 'Enter on the focused Stop button stops')

        # 4. A seek lands on the key frame before the point, its picture and
        # the sound from there as kivdump's; the end, the start, a replay.
        open_page('?movie=keyed.kiv')
        browser.wait_for('kivoProbe.player().movie && kivoProbe.player().movie.shown >= 3')
        key(' ', 'Space', 32)
        browser.evaluate('kivoProbe.listen()')
        key_frame = max(k for k in keys if k <= 26)
        browser.evaluate('kivoProbe.seekBar(1.0)')
        landed = browser.wait_for('kivoProbe.player().movie.frame === %d && kivoProbe.pictureCrc()' % key_frame,
                                  timeout=5)
        want = png_rgb_crc(os.path.join(refs, 'keyed-png', 'frame%05d.png' % key_frame))
        check(landed == want, 'a seek to 1.0 s shows key frame %d as kivdump --png' % key_frame,
              '%s against %s' % (landed, want))
        key(' ', 'Space', 32)
        done = browser.wait_for('!kivoProbe.player().movie && kivoProbe.player().last', timeout=15)
        heard = browser.evaluate('kivoProbe.sound()')
        with open(os.path.join(refs, 'keyed.pcm'), 'rb') as f:
            pcm = f.read()[sum(decoded['keyed']['framePcmBytes'][:key_frame - 1]):]
        check(bool(done) and heard == {'bytes': len(pcm), 'crc': zlib.crc32(pcm)},
              'the sound from the key frame on is kivdump\'s from there',
              '%s bytes, kivdump %d' % (heard['bytes'], len(pcm)))
        key(' ', 'Space', 32)
        again = browser.wait_for('kivoProbe.player().movie && kivoProbe.player().movie.shown >= 2 && '
                                 'kivoProbe.player()', timeout=10)
        check(bool(again) and again['movie']['name'] == 'keyed.kiv', 'space after the end plays the movie again')
        key(' ', 'Space', 32)
        key('End', 'End', 35)
        end = browser.wait_for('(kivoProbe.player().movie || {}).frame === %d' % keys[-1], timeout=5)
        key('ArrowLeft', 'ArrowLeft', 37)
        start = browser.wait_for('(kivoProbe.player().movie || {}).frame === 1', timeout=5)
        check(bool(end and start), 'End goes to the last key frame, ← 5 s back to the start',
              json.dumps(player()['movie']))

        # 5. Keyboard only: Tab to the open button, Enter, the same file again,
        # and a file that fails clears the picture.
        open_page()
        browser.call('Page.setInterceptFileChooserDialog', {'enabled': True}, session=True)

        def choose(path):
            with browser.lock:
                seen = len(browser.events)
            key('Enter', 'Enter', 13)
            deadline = time.monotonic() + 5
            while time.monotonic() < deadline:
                with browser.lock:
                    opened = [e for e in browser.events[seen:] if e.get('method') == 'Page.fileChooserOpened']
                if opened:
                    browser.call('DOM.setFileInputFiles', {'backendNodeId': opened[0]['params']['backendNodeId'],
                                                           'files': [os.path.abspath(path)]}, session=True)
                    return True
                time.sleep(0.05)
            return False

        key('Tab', 'Tab', 9)
        focused = browser.evaluate('document.activeElement.id')
        chosen = focused == 'open' and choose(os.path.join(refs, 'alpha.kiv')) and browser.wait_for(
            'kivoProbe.player().movie && kivoProbe.player().movie.shown >= 2 && kivoProbe.player()', timeout=10)
        check(bool(chosen) and chosen['movie']['name'] == 'alpha.kiv', 'Tab and Enter open a movie',
              'focus on %s' % focused)
        key('Escape', 'Escape', 27)
        browser.wait_for('!kivoProbe.player().movie', timeout=5)
        chosen = choose(os.path.join(refs, 'alpha.kiv')) and browser.wait_for(
            'kivoProbe.player().movie && kivoProbe.player().movie.shown >= 2 && kivoProbe.player()', timeout=10)
        check(bool(chosen), 'the same file chosen again plays again')
        failed = choose(os.path.join(refs, 'not-a-movie.kiv')) and browser.wait_for(
            'kivoProbe.player().message && kivoProbe.player()', timeout=10)
        check(bool(failed) and failed['empty'] and 'Not a Kivo file' in failed['message'],
              'a file that cannot be opened gives its message and clears the picture', failed and failed['message'])
        browser.call('Page.setInterceptFileChooserDialog', {'enabled': False}, session=True)

        # 6. A list: a bad entry gives its message and the list goes on; each
        # movie is fetched when it is reached.
        del requests[:]
        open_page('?movie=not-a-movie.kiv&movie=demo.kiv&movie=alpha.kiv')
        playing = browser.wait_for('kivoProbe.player().movie && kivoProbe.player().movie.shown >= 3 && '
                                   'kivoProbe.player()', timeout=10)
        fetched = list(requests)
        check(bool(playing) and playing['movie']['name'] == 'demo.kiv' and 'not-a-movie.kiv' in playing['message'],
              'after a bad entry and its message the list goes on', playing and playing['message'])
        check('/alpha.kiv' not in fetched, 'the next movie is not fetched before it is reached', str(fetched))

        # 7. Streaming: over a slow link the movie starts before it has arrived.
        open_page('?movie=slow-16000/demo.kiv')
        early = browser.wait_for('kivoProbe.player().movie && kivoProbe.player().movie.shown >= 1 && '
                                 'kivoProbe.player()', timeout=20)
        check(bool(early) and early['stream'] and not early['stream']['done'],
              'over a slow link the movie plays before its download ends',
              early and json.dumps(early['stream']))

        # 8. The module over a slow link: a movie chosen while it loads plays once it is there.
        browser.navigate(base + 'slow-100000/index.html')
        loading = browser.evaluate('[!!window.kivoPage, document.getElementById("hint").textContent]')
        document = browser.call('DOM.getDocument', session=True)['root']['nodeId']
        node = browser.call('DOM.querySelector', {'nodeId': document, 'selector': '#file'}, session=True)['nodeId']
        browser.call('DOM.setFileInputFiles', {'nodeId': node, 'files': [
            os.path.abspath(os.path.join(refs, 'alpha.kiv'))]}, session=True)
        browser.evaluate('document.getElementById("seek").dispatchEvent(new Event("input"))')
        browser.wait_for('!!window.kivoPage', timeout=30)
        browser.evaluate(probe)
        chosen = browser.wait_for('kivoProbe.player().movie && kivoProbe.player().movie.shown >= 2 && '
                                  'kivoProbe.player()', timeout=10)
        check(not loading[0] and 'Loading' in loading[1] and bool(chosen) and chosen['movie']['name'] == 'alpha.kiv',
              'a movie chosen while the module loads plays once it is there', str(loading))

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
        # Without sound the clock is the page's own: after a seek it goes on from there.
        sought = browser.evaluate('kivoProbe.seekBar(0.25), kivoProbe.player()')
        later = browser.wait_for('kivoProbe.player().movie.shown > %d && kivoProbe.player()'
                                 % (sought['movie']['shown'] + 3), timeout=10)
        check(sought['movie']['frame'] == 1 and bool(later) and not later['message'],
              'a seek in a movie without sound shows its key frame and plays on',
              'frame %d' % sought['movie']['frame'])

        # 9. Damaged movies: one message each, and the page still answers; the
        # cut one ends during a slow download.
        # A header claiming 2 GB over 260 bytes gets no more memory than the file's.
        for name, expected in (('not-a-movie.kiv', 'Not a Kivo file'), ('slow-20000/truncated.kiv', 'ends early'),
                               ('boastful.kiv', 'ends early'), ('scrambled.kiv', None), ('empty.kiv', None)):
            open_page('?movie=' + name)
            state = browser.wait_for('(kivoProbe.player().message || kivoProbe.player().last) && kivoProbe.player()',
                                     timeout=30)
            answered = browser.evaluate('1 + 1', timeout=5) == 2
            if expected:
                check(bool(state) and expected in state['message'] and answered and state['heap'] < 64 << 20,
                      name + ' gives its message', state and '%s (memory %d bytes)' % (state['message'], state['heap']))
            else:
                check(bool(state) and answered, name + ' gives a message or plays to its end',
                      state and (state['message'] or 'played to frame %d' % state['last']['frame']))

        # 10. A phone's and a desktop's window: no sideways scrolling, the
        # picture as wide or as high as its room.
        for width, height in ((390, 844), (1920, 1080)):
            view(browser, width, height)
            open_page('?movie=demo.kiv&frame=%d&stats=1' % args.frame)
            browser.wait_for('kivoProbe.player().movie && kivoProbe.player().movie.shown === 1')
            fit = browser.evaluate('(() => { const r = document.getElementById("picture").getBoundingClientRect(), '
                                   's = document.getElementById("stage").getBoundingClientRect(); '
                                   'return [document.documentElement.scrollWidth, innerWidth, r.width, r.height, '
                                   's.width, s.height]; })()')
            shot = browser.call('Page.captureScreenshot', {'format': 'png'}, session=True)
            with open(os.path.join(refs, 'screen-%dx%d.png' % (width, height)), 'wb') as f:
                f.write(base64.b64decode(shot['data']))
            scroll, inner, w, h, room_w, room_h = fit
            # A phone widens its layout to what overflows: the page must fit the screen's width.
            check(scroll <= width and inner == width and (room_w - w < 2 or room_h - h < 2),
                  'at %dx%d no sideways scrolling and the picture fills its room' % (width, height),
                  'page %d wide in %d; picture %.0fx%.0f in %.0fx%.0f' % (scroll, inner, w, h, room_w, room_h))
        view(browser, 1024, 768)

        errors = browser.console_errors()
        check(not errors, 'no uncaught script errors', json.dumps(errors)[:400])

        # 11. As a visitor's browser does: sound held back until the page is
        # touched; keys that are no activation leave it waiting, and say so.
        shy = Browser(args.chromium, log, autoplay=False)
        try:
            open_page('?movie=demo.kiv', b=shy)
            waiting = shy.wait_for('kivoProbe.player().movie && /Click/.test(kivoProbe.player().hint) && '
                                   'kivoProbe.player()', timeout=10)
            for k, code, vk in (('Escape', 'Escape', 27), ('Shift', 'ShiftLeft', 16), ('Control', 'ControlLeft', 17)):
                press(shy, k, code, vk)
            time.sleep(0.3)
            still = player(shy)
            check(bool(waiting) and still['movie'] and still['movie']['shown'] == waiting['movie']['shown']
                  and 'Click' in still['hint'],
                  'without autoplay the movie waits for a touch, also after Esc, Shift and Ctrl',
                  json.dumps(still['movie']) + ' ' + still['hint'])
            for kind in ('mousePressed', 'mouseReleased'):
                shy.call('Input.dispatchMouseEvent', {'type': kind, 'x': 500, 'y': 300, 'button': 'left',
                                                      'clickCount': 1}, session=True)
            playing = shy.wait_for('kivoProbe.player().movie && kivoProbe.player().movie.shown >= 5 && '
                                   'kivoProbe.player()', timeout=10)
            check(bool(playing) and playing['audio'] == 'running' and not playing['hint'],
                  'then a click starts it with its sound')
        finally:
            shy.close()

        if args.bench:
            browser.navigate(base + 'bench.html?movie=bench.kiv&seconds=5')
            fps = browser.wait_for('document.getElementById("result").dataset.best || '
                                   'document.getElementById("result").dataset.error && "error"', timeout=60)
            text = browser.evaluate('document.getElementById("result").textContent')
            print('bench ' + text, flush=True)

        # 12. Offline: once visited, the page opens without its server.
        open_page()
        cached = browser.wait_for('navigator.serviceWorker.controller && caches.match("kivo.wasm").then((r) => !!r)',
                                  timeout=20)
        server.shutdown()
        server.server_close()
        browser.navigate(base + 'index.html')
        offline = browser.wait_for('!!window.kivoPage && !!window.kivoPage.player', timeout=20)
        check(bool(cached) and bool(offline), 'after a first visit the page opens offline')
    finally:
        browser.close()
        server.shutdown()
    if FAILURES:
        print('%d check(s) failed' % len(FAILURES))
        return 1
    return 0


if __name__ == '__main__':
    sys.exit(main())
