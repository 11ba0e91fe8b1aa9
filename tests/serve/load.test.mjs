// le-serve under a bounded load on loopback, with a viewer connected throughout: connections opened
// and dropped, second viewers turned away, malformed HTTP, malformed and oversized messages from the
// viewer, and a viewer that stops reading. The viewer's stream never stops, every bad message is
// answered with an error, the server's resident set stays flat and it exits cleanly.
// Needs Node's WebSocket client (node --experimental-websocket on Node 20).
import assert from 'node:assert/strict';
import net from 'node:net';
import { after, before, describe, it } from 'node:test';
import { rssKb, startServer, until } from './server.mjs';

const ROUNDS = 12;
const MAX_UPLOAD_MB = 1;

let server;

// A WebSocket client that keeps what it is sent: frame times, JSON messages by type.
function connectViewer() {
  const ws = new WebSocket(`ws://127.0.0.1:${server.port}/ws`);
  ws.binaryType = 'arraybuffer';
  const seen = { frames: 0, frameTimes: [], messages: [], closed: false };
  ws.onmessage = (e) => {
    if (typeof e.data === 'string') seen.messages.push(JSON.parse(e.data));
    else if (new Uint8Array(e.data)[0] === 0x46) { seen.frames++; seen.frameTimes.push(Date.now()); }
  };
  ws.onclose = () => { seen.closed = true; };
  const opened = new Promise((resolve, reject) => { ws.onopen = resolve; ws.onerror = reject; });
  return { ws, seen, opened };
}

const errorsOf = (seen) => seen.messages.filter((m) => m.type === 'error').map((m) => m.message);

// Sends raw bytes over a fresh TCP connection and resolves with whatever came back before it closed.
function rawExchange(bytes, { closeAfterMs = 2000 } = {}) {
  return new Promise((resolve) => {
    const socket = net.connect(server.port, '127.0.0.1', () => { if (bytes) socket.write(bytes); });
    let got = '';
    socket.on('data', (d) => { got += d; });
    socket.on('error', () => {});
    const timer = setTimeout(() => socket.destroy(), closeAfterMs);
    socket.on('close', () => { clearTimeout(timer); resolve(got); });
  });
}

// The longest pause between two frames the viewer received, in ms.
function longestGap(times) {
  let gap = 0;
  for (let i = 1; i < times.length; i++) gap = Math.max(gap, times[i] - times[i - 1]);
  return gap;
}

async function oneRound(viewer, round) {
  const errorsBefore = errorsOf(viewer.seen).length;
  const second = connectViewer();
  await second.opened;
  await until('the busy answer', () => second.seen.closed && second.seen.messages.some((m) => m.type === 'busy'), 10000);
  assert.match(await rawExchange('GARBAGE\r\n\r\n'), /^HTTP\/1\.1 400/);
  assert.match(await rawExchange('GET /nothing HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n'), /^HTTP\/1\.1 404/);
  await rawExchange(null, { closeAfterMs: 10 });
  await rawExchange('GET /ws HTTP/1.1\r\nHost: x\r\nUpgrade: websocket\r\nConnection: Upgrade\r\n', { closeAfterMs: 50 });
  const bad = [
    'not json', '{"type":"dance"}', '{"type":"speak"}', '{"type":"speak","text":"   "}', '[1,2,3]',
    JSON.stringify({ type: 'speak', text: 'y'.repeat(2000) }),
  ];
  for (const m of bad) viewer.ws.send(m);
  viewer.ws.send(new Uint8Array([0x5a, 1, 2, 3]));
  viewer.ws.send(new Uint8Array([0x4d, 1, 2, 3]));
  viewer.ws.send(new Uint8Array([0x55, 200, 0, 1]));
  if (round % 4 === 0) viewer.ws.send(new Uint8Array((MAX_UPLOAD_MB << 20) + 8192));
  const expected = bad.length + 3 + (round % 4 === 0 ? 1 : 0);
  await until(`${expected} errors answered`, () => errorsOf(viewer.seen).length >= errorsBefore + expected, 20000);
}

describe('le-serve under load', () => {
  before(async () => { server = await startServer({ args: ['--max-upload', String(MAX_UPLOAD_MB)] }); });
  after(async () => {
    if (server) assert.deepEqual(await server.stop(), { code: 0, signal: null }, server.stderr());
  });

  it('keeps the viewer\'s stream going and its memory flat through bad clients and bad messages', async () => {
    const viewer = connectViewer();
    await viewer.opened;
    try {
      await until('idle frames', () => viewer.seen.frames >= 10, 15000);
      await oneRound(viewer, 0);
      const baseline = rssKb(server.pid);
      for (let round = 1; round <= ROUNDS; round++) {
        const framesBefore = viewer.seen.frames;
        await oneRound(viewer, round);
        assert.ok(viewer.seen.frames > framesBefore, `frames kept coming in round ${round}`);
      }
      const grownKb = rssKb(server.pid) - baseline;
      const errors = errorsOf(viewer.seen);
      assert.ok(errors.includes('le-serve: a message is not a JSON object'), errors.join('\n'));
      assert.ok(errors.includes('le-serve: unknown message type "dance"'));
      assert.ok(errors.includes('le-serve: the text is empty'));
      assert.ok(errors.includes('le-serve: microphone audio must be whole 16-bit samples'));
      assert.ok(errors.some((e) => /^le-serve: a message of 1\.0 MB is over the limit of 1 MB$/.test(e)), errors.join('\n'));
      const gap = longestGap(viewer.seen.frameTimes);
      assert.ok(gap < 3000, `the stream paused for ${gap} ms`);
      // A sanitizer's quarantine keeps freed memory resident; only a plain build can tell growth.
      if (!process.env.LE_SERVE_SANITIZER)
        assert.ok(grownKb < 16 * 1024, `resident set grew by ${grownKb} kB over ${ROUNDS} rounds`);
      assert.ok(!viewer.seen.closed);
    } finally {
      viewer.ws.close();
      await until('the viewer closed', () => viewer.seen.closed, 5000);
    }
  });

  it('drops frames for a viewer that stops reading, and serves the next one', async () => {
    const stalled = net.connect(server.port, '127.0.0.1');
    await new Promise((r) => stalled.on('connect', r));
    stalled.write('GET /ws HTTP/1.1\r\nHost: 127.0.0.1\r\nUpgrade: websocket\r\nConnection: Upgrade\r\n' +
                  'Sec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\nSec-WebSocket-Version: 13\r\n\r\n');
    await new Promise((r) => stalled.once('data', r));
    stalled.pause();
    // Once the kernel's buffers on both ends are full, the server drops the frames; le-serve's
    // figures at /stats say so.
    const stats = async () => (await fetch(`${server.url}stats`)).json();
    await until('frames dropped for the stalled viewer', async () => (await stats()).framesDropped > 0, 40000);
    stalled.destroy();
    const next = connectViewer();
    await next.opened;
    await until('the next viewer\'s hello and stats', () => next.seen.messages.some((m) => m.type === 'stats'), 10000);
    assert.ok(next.seen.messages.some((m) => m.type === 'hello'), 'the next viewer drives');
    await until('frames for the next viewer', () => next.seen.frames >= 10, 10000);
    next.ws.close();
  });
});
