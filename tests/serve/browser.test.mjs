// le-serve's page in headless Chromium on the test person: the live view, speech from text and
// from a recording with its sound, interrupts, bad input answered on the page while the stream
// goes on, the second viewer turned away, and the next viewer after one that left mid-utterance.
// A screenshot of the page is left in LE_ARTIFACTS.
import assert from 'node:assert/strict';
import { mkdirSync } from 'node:fs';
import { after, before, describe, it } from 'node:test';
import { chromium } from 'playwright-core';
import { startServer, until } from './server.mjs';

const artifacts = process.env.LE_ARTIFACTS || '.';
const sentence = 'Hello there. I am speaking to you from the test server, and now I keep on talking.';

let server, browser, page;

const live = (p = page) => p.evaluate(() => window.leServe);

async function openViewer() {
  const p = await browser.newPage();
  await p.goto(server.url);
  return p;
}

async function waitConnected(p) {
  await until('the hello of le-serve', async () => (await live(p)).connected, 15000);
}

// Frames shown so far; resolves once `count` more were drawn.
async function moreFrames(count, p = page, timeoutMs = 10000) {
  const start = (await live(p)).drawn;
  return until(`${count} more frames`, async () => (await live(p)).drawn >= start + count, timeoutMs);
}

// A one-second 16-bit mono WAV at 16 kHz: a gliding tone with a syllable-like envelope.
function toneWav() {
  const rate = 16000, n = rate;
  const wav = Buffer.alloc(44 + n * 2);
  wav.write('RIFF', 0); wav.writeUInt32LE(36 + n * 2, 4); wav.write('WAVEfmt ', 8);
  wav.writeUInt32LE(16, 16); wav.writeUInt16LE(1, 20); wav.writeUInt16LE(1, 22);
  wav.writeUInt32LE(rate, 24); wav.writeUInt32LE(rate * 2, 28); wav.writeUInt16LE(2, 32); wav.writeUInt16LE(16, 34);
  wav.write('data', 36); wav.writeUInt32LE(n * 2, 40);
  for (let i = 0; i < n; i++) {
    const t = i / rate;
    const v = Math.sin(2 * Math.PI * (180 + 80 * t) * t) * Math.abs(Math.sin(Math.PI * 4 * t));
    wav.writeInt16LE(Math.round(v * 12000), 44 + 2 * i);
  }
  return wav;
}

describe('le-serve in a browser', () => {
  before(async () => {
    server = await startServer();
    browser = await chromium.launch({
      executablePath: process.env.LE_CHROMIUM || '/usr/bin/chromium',
      args: ['--no-sandbox', '--autoplay-policy=no-user-gesture-required', '--use-fake-ui-for-media-stream',
             '--use-fake-device-for-media-stream'],
    });
    page = await openViewer();
    await waitConnected(page);
  });

  after(async () => {
    if (browser) await browser.close();
    if (server) assert.deepEqual(await server.stop(), { code: 0, signal: null }, server.stderr());
  });

  it('shows the idle person at about 25 frames a second', async () => {
    const hello = (await live()).hello;
    assert.equal(hello.fps, 25);
    await moreFrames(5);
    const t0 = Date.now(), first = (await live()).drawn;
    await new Promise((r) => setTimeout(r, 2000));
    const rate = ((await live()).drawn - first) / ((Date.now() - t0) / 1000);
    // The clock ticks 25 times a second; a machine busy with other work may starve the pipeline or
    // the browser of some frames, never add any.
    assert.ok(rate > 8 && rate < 30, `idle frames at ${rate.toFixed(1)} a second`);
    const before = await live();
    assert.equal(before.framesByKind[1], 0, 'no speech frame before anything was said');
    assert.equal(before.errors.length, 0, before.errors.join('\n'));
  });

  it('says typed text with its sound, and an interrupt returns to idle within a few frames', async () => {
    await page.fill('#text', sentence);
    await page.click('#speak');
    await until('speech frames on screen', async () => (await live()).framesByKind[1] >= 10, 30000);
    const speaking = await live();
    assert.equal(speaking.utterances, 1);
    assert.ok(speaking.audioChunks >= 3, `${speaking.audioChunks} audio chunks for a sentence of several seconds`);
    assert.ok(speaking.audioStarts >= 1, 'the sound was started with the first speech frame');
    assert.equal(speaking.speechLatencies.length, 1, 'Speak to first speech frame measured');
    await page.click('#interrupt');
    const clicked = (await live()).drawn;
    await until('an idle frame after the interrupt', async () => (await live()).lastKind === 0, 5000);
    const framesToIdle = (await live()).drawn - clicked;
    assert.ok(framesToIdle <= 14, `${framesToIdle} frames from Interrupt to idle (a ramp of 4 and the ring of 8)`);
    await moreFrames(5);
    assert.equal((await live()).lastKind, 0, 'idle goes on after the interrupt');
  });

  it('leaves a screenshot showing the person', async () => {
    mkdirSync(artifacts, { recursive: true });
    await page.screenshot({ path: `${artifacts}/le-serve-page.png` });
    const spread = await page.evaluate(() => {
      const c = document.getElementById('view');
      const d = c.getContext('2d').getImageData(0, 0, c.width, c.height).data;
      let lo = 255, hi = 0;
      for (let i = 0; i < d.length; i += 4) { lo = Math.min(lo, d[i + 1]); hi = Math.max(hi, d[i + 1]); }
      return hi - lo;
    });
    assert.ok(spread > 40, `the canvas holds a picture, not a flat colour (green spread ${spread})`);
  });

  it('says an uploaded recording, and answers bad input on the page while the stream goes on', async () => {
    await page.setInputFiles('#file', { name: 'notes.txt', mimeType: 'text/plain', buffer: Buffer.from('not sound\n') });
    await until('the error about the text file', async () => (await live()).errors.length >= 1, 10000);
    assert.match((await live()).errors.at(-1), /^le-serve: notes\.txt is not an audio file/);
    await page.fill('#text', 'x'.repeat(1001));
    await page.click('#speak');
    await until('the error about the long text', async () => (await live()).errors.length >= 2, 5000);
    assert.equal((await live()).errors.at(-1), 'le-serve: the text is 1001 characters long; the limit is 1000');
    await moreFrames(10);
    const speechBefore = (await live()).framesByKind[1];
    await page.setInputFiles('#file', { name: 'tone.wav', mimeType: 'audio/wav', buffer: toneWav() });
    await until('speech frames of the recording', async () => (await live()).framesByKind[1] >= speechBefore + 10, 30000);
    assert.equal((await live()).utterances, 2);
  });

  it('speaks what the microphone hears', async () => {
    await until('idle before the microphone', async () => (await live()).lastKind === 0, 15000);
    const speechBefore = (await live()).framesByKind[1];
    await page.click('#mic');
    await until('speech frames from the microphone', async () => (await live()).framesByKind[1] >= speechBefore + 5, 30000);
    await page.click('#mic');
    await until('idle after the microphone', async () => (await live()).lastKind === 0, 15000);
    assert.equal((await live()).utterances, 3);
  });

  it('turns a second viewer away, and lets the next one drive after the first left mid-utterance', async () => {
    const second = await openViewer();
    await until('the busy answer', async () => (await live(second)).busy, 10000);
    assert.match(await second.textContent('#status'), /another viewer is driving/);
    await second.close();
    await page.fill('#text', sentence);
    await page.click('#speak');
    await until('speech before leaving', async () => (await live()).lastKind === 1, 30000);
    await page.close();
    page = await openViewer();
    await waitConnected(page);
    await moreFrames(10);
    const next = await live();
    assert.equal(next.lastKind, 0, 'the next viewer finds the person idle');
    assert.equal(next.utterances, 0);
    assert.ok(!next.busy);
  });
});
