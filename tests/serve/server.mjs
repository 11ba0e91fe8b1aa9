// Starts le-serve on the test person on a free loopback port for a test, and stops it.
import { spawn } from 'node:child_process';
import { readFileSync } from 'node:fs';

const fixtures = process.env.LE_TEST_FIXTURES;
const binary = process.env.LE_SERVE;

// Resolves once le-serve says where it serves: {url, port, pid, stderr(), stop()}. The person is
// the test fixture's unless bundle, motion and w2v (the speech encoder) name another.
export function startServer({ bundle, motion, w2v, args = [] } = {}) {
  if (!binary || (!bundle && !fixtures)) throw new Error('LE_SERVE and LE_TEST_FIXTURES must name le-serve and the fixtures');
  bundle ??= `${fixtures}/test`;
  motion ??= bundle;
  w2v ??= `${fixtures}/speech/w2v_8s.onnx`;
  const child = spawn(binary, [bundle, '--motion', motion, '--port', '0', ...args], {
    env: { ...process.env, W2V_ONNX: w2v },
    stdio: ['ignore', 'pipe', 'pipe'],
  });
  let err = '';
  child.stderr.on('data', (d) => { err += d; });
  const exited = new Promise((resolve) => child.on('exit', (code, signal) => resolve({ code, signal })));
  return new Promise((resolve, reject) => {
    let out = '';
    const fail = (why) => reject(new Error(`${why}\n--- le-serve stderr ---\n${err}`));
    const timer = setTimeout(() => { child.kill('SIGKILL'); fail('le-serve did not start listening in 60 s'); }, 60000);
    exited.then(({ code }) => { clearTimeout(timer); fail(`le-serve exited with ${code} before listening`); });
    child.stdout.on('data', (d) => {
      out += d;
      const m = out.match(/le-serve: serving http:\/\/127\.0\.0\.1:(\d+)\//);
      if (!m) return;
      clearTimeout(timer);
      resolve({
        url: `http://127.0.0.1:${m[1]}/`,
        port: Number(m[1]),
        pid: child.pid,
        stderr: () => err,
        // SIGTERM, then the exit status (and the signal, when it died of one).
        stop: () => { child.kill('SIGTERM'); return exited; },
      });
    });
  });
}

// The resident set of a process in kB, from /proc/<pid>/status.
export function rssKb(pid) {
  return Number(readFileSync(`/proc/${pid}/status`, 'utf8').match(/VmRSS:\s+(\d+) kB/)[1]);
}

// User + system CPU time of a process in milliseconds, from /proc/<pid>/stat.
export function cpuMs(pid) {
  const fields = readFileSync(`/proc/${pid}/stat`, 'utf8').split(') ')[1].split(' ');
  return ((Number(fields[11]) + Number(fields[12])) * 1000) / 100;
}

export async function until(what, test, timeoutMs) {
  const end = Date.now() + timeoutMs;
  for (;;) {
    const got = await test();
    if (got) return got;
    if (Date.now() > end) throw new Error(`timed out after ${timeoutMs} ms waiting for ${what}`);
    await new Promise((r) => setTimeout(r, 50));
  }
}
