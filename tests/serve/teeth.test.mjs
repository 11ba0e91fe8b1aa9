// le-serve --teeth on the 128-pixel test person: the borrow is armed before serving, the viewer is
// told so, and the figures count the speech frames delivered through it.
// Needs Node's WebSocket client (node --experimental-websocket on Node 20).
import assert from 'node:assert/strict';
import { after, before, describe, it } from 'node:test';
import { startServer, until } from './server.mjs';

const fixtures = process.env.LE_TEST_FIXTURES;
let server;

describe('le-serve with borrowed teeth', () => {
  before(async () => {
    const bundle = `${fixtures}/test-crop128`;
    server = await startServer({ bundle, motion: bundle, args: ['--teeth'] });
  });
  after(async () => {
    if (server) assert.deepEqual(await server.stop(), { code: 0, signal: null }, server.stderr());
  });

  it('says text through the borrow and shows its figures', async () => {
    const ws = new WebSocket(`ws://127.0.0.1:${server.port}/ws`);
    const messages = [];
    let speechFrames = 0;
    ws.binaryType = 'arraybuffer';
    ws.onmessage = (e) => {
      if (typeof e.data === 'string') messages.push(JSON.parse(e.data));
      else if (new Uint8Array(e.data)[0] === 0x46 && new Uint8Array(e.data)[1] === 1) speechFrames++;
    };
    await new Promise((resolve, reject) => { ws.onopen = resolve; ws.onerror = reject; });
    try {
      await until('the hello', () => messages.some((m) => m.type === 'hello'), 10000);
      assert.equal(messages.find((m) => m.type === 'hello').teeth, true);
      ws.send(JSON.stringify({ type: 'speak', text: 'Hello there, how are you today?' }));
      await until('speech frames', () => speechFrames >= 10, 30000);
      const stats = await until('frames borrowed', async () => {
        const s = await (await fetch(`${server.url}stats`)).json();
        return s.teeth && s.teeth.borrowed >= 10 ? s : null;
      }, 10000);
      assert.equal(stats.teeth.refused, 0);
      assert.ok(stats.teeth.weight >= 0 && stats.teeth.weight <= 1, `synthesis weight ${stats.teeth.weight}`);
      assert.ok(!messages.some((m) => m.type === 'error'), JSON.stringify(messages.filter((m) => m.type === 'error')));
    } finally {
      ws.close();
    }
  });
});
