'use strict';
// The simulator as the Node tests use it: qxdb-sim on 127.0.0.1 with an
// ephemeral port, driven through its --commands input. QXDB_SIM names the
// program (CTest sets it). Every wait is bounded.
const { spawn } = require('child_process');
const fs = require('fs');
const os = require('os');
const path = require('path');

const SIM = process.env.QXDB_SIM || 'qxdb-sim';
const PROJECT = path.join(__dirname, '..', 'test-project.txt');

function makeProject() {
  const dir = fs.mkdtempSync(path.join(os.tmpdir(), 'qxdb-node-'));
  fs.copyFileSync(PROJECT, path.join(dir, 'project.txt'));
  return dir;
}

class Sim {
  static async start() {
    const sim = new Sim();
    const first = await sim.nextLine(10000);
    const m = /listening on (127\.0\.0\.1:(\d+))/.exec(first);
    if (!m) throw new Error('qxdb-sim did not start: ' + first);
    sim.host = m[1];
    sim.port = Number(m[2]);
    return sim;
  }

  constructor() {
    this.dir = makeProject();
    this.proc = spawn(SIM, ['--port', '0', '--commands', this.dir], {
      stdio: ['pipe', 'pipe', 'inherit'],
    });
    this.buf = '';
    this.lines = [];
    this.waiters = [];
    this.proc.stdout.setEncoding('utf8');
    this.proc.stdout.on('data', (chunk) => {
      this.buf += chunk;
      let i;
      while ((i = this.buf.indexOf('\n')) >= 0) {
        this.lines.push(this.buf.slice(0, i));
        this.buf = this.buf.slice(i + 1);
      }
      while (this.waiters.length && this.lines.length) this.waiters.shift()(this.lines.shift());
    });
  }

  nextLine(ms) {
    if (this.lines.length) return Promise.resolve(this.lines.shift());
    return new Promise((resolve, reject) => {
      const timer = setTimeout(() => reject(new Error('qxdb-sim did not answer')), ms);
      this.waiters.push((line) => {
        clearTimeout(timer);
        resolve(line);
      });
    });
  }

  // Runs one command: what follows "ok", or a rejection with the error.
  async cmd(line, ms = 10000) {
    this.proc.stdin.write(line + '\n');
    const answer = await this.nextLine(ms);
    if (!answer.startsWith('ok')) throw new Error(`qxdb-sim: ${line} -> ${answer}`);
    return answer.slice(3);
  }

  async lastRequest(code) {
    return Buffer.from(await this.cmd('lastreq ' + code), 'hex');
  }

  async count(code) {
    return Number(await this.cmd('count ' + code));
  }

  async clientCount() {
    return Number(await this.cmd('clientcount'));
  }

  async stop() {
    if (this.proc.exitCode === null) {
      const ended = new Promise((resolve) => this.proc.once('exit', resolve));
      this.proc.stdin.end();
      const timer = setTimeout(() => this.proc.kill('SIGKILL'), 5000);
      await ended;
      clearTimeout(timer);
    }
    fs.rmSync(this.dir, { recursive: true, force: true });
  }
}

// Resolves true as soon as pred() holds, false after ms.
async function waitUntil(pred, ms = 5000) {
  const end = Date.now() + ms;
  while (Date.now() < end) {
    if (pred()) return true;
    await new Promise((r) => setTimeout(r, 5));
  }
  return Boolean(pred());
}

module.exports = { Sim, waitUntil };
