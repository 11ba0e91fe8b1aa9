// Measures le-serve as a viewer sees it, in headless Chromium: frames drawn per second while idle
// and while speaking, Speak -> first speech frame on screen, and the server's CPU time per frame
// (from /proc). Not a test: it prints the figures.
//
//   LE_SERVE=build/bin/le-serve LE_TEST_FIXTURES=build/fixtures node tests/serve/measure.mjs [BUNDLE MOTION W2V]
// Without arguments it runs on the test person.
import { chromium } from 'playwright-core';
import { cpuMs, startServer, until } from './server.mjs';

const [bundle, motion, w2v] = process.argv.slice(2);
const sentence = 'Hello there. I am speaking to you from the server, and I can keep on talking for a while.';
const server = await startServer(bundle ? { bundle, motion, w2v } : {});
const browser = await chromium.launch({
  executablePath: process.env.LE_CHROMIUM || '/usr/bin/chromium',
  args: ['--no-sandbox', '--autoplay-policy=no-user-gesture-required'],
});
const page = await browser.newPage();
await page.goto(server.url);
const live = () => page.evaluate(() => window.leServe);
await until('the hello', async () => (await live()).connected, 15000);

// Frames drawn per second and server CPU ms per frame pulled over `ms` milliseconds.
async function sample(ms) {
  const a = await live(), cpuA = cpuMs(server.pid), tA = Date.now();
  await new Promise((r) => setTimeout(r, ms));
  const b = await live(), cpuB = cpuMs(server.pid), tB = Date.now();
  const frames = b.drawn - a.drawn;
  return { fps: frames / ((tB - tA) / 1000), cpuPerFrame: (cpuB - cpuA) / Math.max(1, frames) };
}

await new Promise((r) => setTimeout(r, 2000));
const idle = await sample(10000);
console.log(`idle: ${idle.fps.toFixed(1)} frames/s drawn, server CPU ${idle.cpuPerFrame.toFixed(2)} ms per frame`);
const latencies = [];
for (let i = 0; i < 5; i++) {
  await page.fill('#text', sentence);
  await page.click('#speak');
  await until('the first speech frame', async () => (await live()).speechLatencies.length > i, 30000);
  latencies.push((await live()).speechLatencies[i]);
  if (i === 0) {
    const speech = await sample(3000);
    console.log(`speaking: ${speech.fps.toFixed(1)} frames/s drawn, server CPU ${speech.cpuPerFrame.toFixed(2)} ms per frame`);
  }
  await until('idle again', async () => (await live()).lastKind === 0, 60000);
  await new Promise((r) => setTimeout(r, 500));
}
const s = (await live()).stats;
latencies.sort((x, y) => x - y);
console.log(`Speak -> first speech frame on screen: median ${latencies[2].toFixed(0)} ms ` +
            `(min ${latencies[0].toFixed(0)}, max ${latencies[4].toFixed(0)}) over 5 sentences`);
console.log(`server: audio -> first speech frame ${s.latencyMs.toFixed(1)} ms (last), render ${s.renderMs.toFixed(2)} ms per ` +
            `speech frame, ${s.latePulls} late pulls, ${s.framesDropped} frames dropped of ${s.framesSent + s.framesDropped}`);
await browser.close();
await server.stop();
