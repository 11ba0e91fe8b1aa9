'use strict';
// le-serve's page: draws the frames as they come (25 a second), plays each utterance's sound
// where its speech frames say it is, and sends text, recordings, microphone audio and interrupts.
// What the page has seen is kept in window.leServe for anyone who wants to watch it from outside.

const FRAME = 0x46, AUDIO = 0x41, MIC = 0x4d, UPLOAD = 0x55;
const FRAME_SECONDS = 0.04, RATE = 16000;
// Sound further than this from where the frame on screen says it should be is started over there.
const MAX_DRIFT_SECONDS = 0.08;

const $ = (id) => document.getElementById(id);
const canvas = $('view');
const painter = canvas.getContext('2d');

const live = {
  connected: false, busy: false, hello: null, stats: null,
  frames: 0, framesByKind: [0, 0, 0], drawn: 0, lastKind: -1, fps: 0,
  audioChunks: 0, audioStarts: 0, utterances: 0,
  errors: [], speakAt: 0, speechLatencies: [],
};
window.leServe = live;

let socket = null;
let audio = null;          // the AudioContext, made on the first gesture
let current = null;        // the latest utterance: {id, source, samples, buffer}
let playing = null;        // {id, node, startedAt, offset}
let lastDrawnSeq = -1;
const shownAt = [];        // times of the frames drawn in the last second
let mic = null;            // {stream, context, tap}

function showError(text) {
  live.errors.push(text);
  const box = $('error');
  box.textContent = text;
  box.hidden = false;
}

function setStatus(text) { $('status').textContent = text; }

function send(message) {
  if (socket && socket.readyState === WebSocket.OPEN) socket.send(message);
}

function connect() {
  socket = new WebSocket(`ws://${location.host}/ws`);
  socket.binaryType = 'arraybuffer';
  socket.onmessage = (e) => (typeof e.data === 'string' ? onText(JSON.parse(e.data)) : onBinary(e.data));
  socket.onclose = () => {
    live.connected = false;
    stopSound();
    if (!live.busy) setStatus('disconnected from le-serve: reload the page to reconnect');
    for (const b of document.querySelectorAll('button')) b.disabled = true;
  };
}

function onText(m) {
  if (m.type === 'hello') {
    live.connected = true;
    live.hello = m;
    canvas.width = m.width;
    canvas.height = m.height;
    setStatus(`live: ${m.width}×${m.height} at ${m.fps} fps${m.teeth ? ', borrowed teeth' : ''}`);
  } else if (m.type === 'busy') {
    live.busy = true;
    setStatus(m.message);
  } else if (m.type === 'error') {
    showError(m.message);
  } else if (m.type === 'utterance') {
    live.utterances++;
    current = { id: m.id, source: m.source, samples: new Int16Array(m.samples), buffer: null };
  } else if (m.type === 'stats') {
    live.stats = m;
    showStats(m);
  }
}

function onBinary(data) {
  const view = new DataView(data);
  const tag = view.getUint8(0);
  if (tag === FRAME) onFrame(view, data);
  else if (tag === AUDIO) onAudio(view, data);
}

function onFrame(view, data) {
  const kind = view.getUint8(1);
  const frameNo = view.getInt32(8, true);
  const seq = Number(view.getBigInt64(12, true));
  live.frames++;
  if (kind <= 2) live.framesByKind[kind]++;
  createImageBitmap(new Blob([new Uint8Array(data, 20)], { type: 'image/jpeg' })).then((picture) => {
    if (seq > lastDrawnSeq) {
      lastDrawnSeq = seq;
      painter.drawImage(picture, 0, 0, canvas.width, canvas.height);
      shown(kind, frameNo);
    }
    picture.close();
  }, () => {});
}

// A frame is on screen: the speech latency, the frame rate, and the sound in step with it.
function shown(kind, frameNo) {
  const now = performance.now();
  live.drawn++;
  live.lastKind = kind;
  shownAt.push(now);
  while (shownAt[0] < now - 1000) shownAt.shift();
  live.fps = shownAt.length;
  if (kind === 1 && frameNo === 0 && live.speakAt) {
    live.speechLatencies.push(now - live.speakAt);
    live.speakAt = 0;
    $('s-e2e').textContent = `${Math.round(live.speechLatencies.at(-1))} ms`;
  }
  if (kind === 1) followSound(frameNo);
  else stopSound();
  $('s-fps').textContent = `${live.fps} / s`;
}

function onAudio(view, data) {
  const id = view.getUint32(4, true);
  const first = view.getUint32(8, true);
  if (!current || current.id !== id) return;
  const samples = new Int16Array(data.slice(12));
  current.samples.set(samples.subarray(0, Math.max(0, current.samples.length - first)), first);
  current.buffer = null;
  live.audioChunks++;
}

function soundBuffer(u) {
  if (!u.buffer) {
    u.buffer = audio.createBuffer(1, Math.max(1, u.samples.length), RATE);
    const out = u.buffer.getChannelData(0);
    for (let i = 0; i < u.samples.length; i++) out[i] = u.samples[i] / 32768;
  }
  return u.buffer;
}

// Speech frame frameNo is on screen: the utterance's sound should be at frameNo x 40 ms. The
// microphone's own sound is not played back.
function followSound(frameNo) {
  if (!audio || !current || current.source === 'mic') return;
  const want = frameNo * FRAME_SECONDS;
  if (playing && playing.id === current.id) {
    const at = audio.currentTime - playing.startedAt + playing.offset;
    if (Math.abs(at - want) < MAX_DRIFT_SECONDS) return;
  }
  stopSound();
  if (want >= current.samples.length / RATE) return;
  const node = audio.createBufferSource();
  node.buffer = soundBuffer(current);
  node.connect(audio.destination);
  node.start(0, want);
  playing = { id: current.id, node, startedAt: audio.currentTime, offset: want };
  live.audioStarts++;
}

function stopSound() {
  if (playing) playing.node.stop();
  playing = null;
}

function wakeAudio() {
  if (!audio) audio = new AudioContext();
  if (audio.state === 'suspended') audio.resume();
}

function showStats(s) {
  const ms = (v) => `${v.toFixed(1)} ms`;
  $('s-latency').textContent = s.utterances > 0 ? ms(s.latencyMs) : '–';
  $('s-render').textContent = s.speechFrames > 0 ? ms(s.renderMs) : '–';
  $('s-late').textContent = String(s.latePulls);
  $('s-dropped').textContent = `${s.framesDropped} of ${s.framesSent + s.framesDropped}`;
  $('s-cpu').textContent = ms(s.cpuMsPerFrame);
  $('s-teeth').textContent = s.teeth
    ? `${s.teeth.borrowed} borrowed, ${s.teeth.refused} refused, weight ${s.teeth.weight.toFixed(3)}`
    : 'off';
  if (s.renderStatus) showError(`rendering: ${s.renderStatus}`);
}

function speak(event) {
  event.preventDefault();
  const text = $('text').value;
  if (!text.trim()) return showError('type something to say first');
  wakeAudio();
  live.speakAt = performance.now();
  send(JSON.stringify({ type: 'speak', text }));
}

function interrupt() {
  live.speakAt = 0;
  send(JSON.stringify({ type: 'interrupt' }));
}

async function sendRecording() {
  const file = $('file').files[0];
  $('file').value = '';
  if (!file) return;
  const limit = live.hello ? live.hello.maxUploadBytes : Infinity;
  if (file.size > limit) {
    return showError(`${file.name} is ${(file.size / 1048576).toFixed(1)} MB; recordings up to ` +
                     `${Math.floor(limit / 1048576)} MB are taken`);
  }
  wakeAudio();
  const name = new TextEncoder().encode(file.name).slice(0, 255);
  const message = new Uint8Array(3 + name.length + file.size);
  message[0] = UPLOAD;
  new DataView(message.buffer).setUint16(1, name.length, true);
  message.set(name, 3);
  message.set(new Uint8Array(await file.arrayBuffer()), 3 + name.length);
  live.speakAt = performance.now();
  send(message);
}

// The microphone at 16 kHz: each captured block goes out as it comes, as 16-bit samples.
async function toggleMic() {
  const button = $('mic');
  if (mic) {
    // No block may follow the end: it would start an utterance of its own.
    mic.tap.onaudioprocess = null;
    mic.tap.disconnect();
    mic.stream.getTracks().forEach((t) => t.stop());
    mic.context.close();
    mic = null;
    button.setAttribute('aria-pressed', 'false');
    return send(JSON.stringify({ type: 'mic-end' }));
  }
  try {
    const stream = await navigator.mediaDevices.getUserMedia({ audio: { channelCount: 1, echoCancellation: true } });
    const context = new AudioContext({ sampleRate: RATE });
    const tap = context.createScriptProcessor(1024, 1, 1);
    tap.onaudioprocess = (e) => send(micMessage(e.inputBuffer.getChannelData(0)));
    context.createMediaStreamSource(stream).connect(tap);
    tap.connect(context.destination);
    mic = { stream, context, tap };
    button.setAttribute('aria-pressed', 'true');
  } catch (e) {
    showError(`the microphone is not available: ${e.message}`);
  }
}

function micMessage(block) {
  const message = new DataView(new ArrayBuffer(1 + block.length * 2));
  message.setUint8(0, MIC);
  for (let i = 0; i < block.length; i++) {
    message.setInt16(1 + 2 * i, Math.round(Math.max(-1, Math.min(1, block[i])) * 32767), true);
  }
  return message.buffer;
}

$('speak-form').addEventListener('submit', speak);
$('interrupt').addEventListener('click', interrupt);
$('file').addEventListener('change', sendRecording);
$('mic').addEventListener('click', toggleMic);
connect();
