'use strict';
// Runs d88.wasm off the page's thread.  The module sees the container as
// the file /container and writes its answers to standard output; the few
// WASI calls it makes are answered here, from memory: nothing else exists.

const WASI_BADF = 8;
const WASI_NOENT = 44;
const WASI_NOSYS = 52;
const ROOT_FD = 3;       // the one directory, "/"
const CONTAINER_FD = 4;  // /container, once opened
const FILETYPE_DIRECTORY = 3;
const FILETYPE_REGULAR = 4;

let exports = null;
let container = new Uint8Array(0);  // the bytes /container reads
let position = 0;                   // its read position
let streams = null;                 // fd -> the chunks written to it
const containers = new Map();       // id -> bytes, for later downloads
let openId = null;                  // the id of the open container
let imageCount = 0;                 // its images

const memory = () => new DataView(exports.memory.buffer);
const bytesAt = (address, length) => new Uint8Array(exports.memory.buffer, address, length);

const wasi = {
  fd_prestat_get(fd, out) {
    if (fd !== ROOT_FD) return WASI_BADF;
    memory().setUint8(out, 0);
    memory().setUint32(out + 4, 1, true);
    return 0;
  },
  fd_prestat_dir_name(fd, path, length) {
    if (fd !== ROOT_FD || length < 1) return WASI_BADF;
    bytesAt(path, 1)[0] = 0x2f;
    return 0;
  },
  path_open(dirFd, lookup, path, pathLength, openFlags, rights, inherited, fdFlags, fdOut) {
    const name = new TextDecoder().decode(bytesAt(path, pathLength).slice());
    if (dirFd !== ROOT_FD || name !== 'container' || openFlags !== 0) return WASI_NOENT;
    position = 0;
    memory().setUint32(fdOut, CONTAINER_FD, true);
    return 0;
  },
  fd_read(fd, iovs, count, readOut) {
    if (fd !== CONTAINER_FD) return WASI_BADF;
    let total = 0;
    for (let i = 0; i < count; i++) {
      const address = memory().getUint32(iovs + 8 * i, true);
      const length = memory().getUint32(iovs + 8 * i + 4, true);
      const chunk = container.subarray(position, position + length);
      bytesAt(address, chunk.length).set(chunk);
      position += chunk.length;
      total += chunk.length;
    }
    memory().setUint32(readOut, total, true);
    return 0;
  },
  fd_seek(fd, offset, whence, positionOut) {
    if (fd !== CONTAINER_FD) return WASI_BADF;
    const base = [0, position, container.length][whence];
    const target = base + Number(offset);
    if (base === undefined || target < 0) return 28;  // EINVAL
    position = target;
    memory().setBigUint64(positionOut, BigInt(position), true);
    return 0;
  },
  fd_filestat_get(fd, out) {
    if (fd !== CONTAINER_FD) return WASI_BADF;
    bytesAt(out, 64).fill(0);
    memory().setUint8(out + 16, FILETYPE_REGULAR);
    memory().setBigUint64(out + 32, BigInt(container.length), true);
    return 0;
  },
  fd_fdstat_get(fd, out) {
    if (fd > CONTAINER_FD) return WASI_BADF;
    bytesAt(out, 24).fill(0);
    memory().setUint8(out, fd === ROOT_FD ? FILETYPE_DIRECTORY : FILETYPE_REGULAR);
    return 0;
  },
  fd_fdstat_set_flags: () => 0,
  fd_close: () => 0,
  fd_write(fd, iovs, count, writtenOut) {
    if (!streams || !streams[fd]) return WASI_BADF;
    let total = 0;
    for (let i = 0; i < count; i++) {
      const address = memory().getUint32(iovs + 8 * i, true);
      const length = memory().getUint32(iovs + 8 * i + 4, true);
      streams[fd].push(bytesAt(address, length).slice());
      total += length;
    }
    memory().setUint32(writtenOut, total, true);
    return 0;
  },
  proc_exit(code) {
    throw new Error(`d88.wasm exited with status ${code}`);
  },
};

const loaded = fetch('d88.wasm')
  .then((response) => response.arrayBuffer())
  .then((bytes) => {
    const imports = { wasi_snapshot_preview1: new Proxy(wasi, {
      get: (target, name) => target[name] || (() => WASI_NOSYS),
    }) };
    return WebAssembly.instantiate(bytes, imports);
  })
  .then(({ instance }) => {
    exports = instance.exports;
    exports._initialize();
  });

function joined(chunks) {
  const all = new Uint8Array(chunks.reduce((sum, chunk) => sum + chunk.length, 0));
  let at = 0;
  for (const chunk of chunks) {
    all.set(chunk, at);
    at += chunk.length;
  }
  return all;
}

// Calls the module's function name; returns its status, output and errors.
function call(name, ...args) {
  streams = { 1: [], 2: [] };
  const status = exports[name](...args);
  const result = { status, out: joined(streams[1]), err: joined(streams[2]) };
  streams = null;
  return result;
}

const text = (bytes) => new TextDecoder().decode(bytes);

// Makes the container of id the one /container reads; returns its images.
function open(id) {
  if (openId !== id) {
    container = containers.get(id);
    openId = id;
    imageCount = exports.d88_open();
  }
  return imageCount;
}

const lines = (result) => text(result.out).split('\n').slice(0, -1);

// Puts text where the module reads the container's name, cut to fit.
function nameContainer(name) {
  const encoded = new TextEncoder().encode(name).slice(0, exports.d88_name_capacity() - 1);
  const at = exports.d88_name_buffer();
  bytesAt(at, encoded.length).set(encoded);
  memory().setUint8(at + encoded.length, 0);
}

function survey({ id, name, bytes }) {
  containers.set(id, new Uint8Array(bytes));
  openId = null;
  const images = open(id);
  if (images <= 0) return { images };
  nameContainer(name);
  const list = call('d88_list');
  const summary = call('d88_summary');
  const pages = [];
  for (let k = 0; k < images; k++) {
    const notes = text(call('d88_image', k).out).split('\n');
    const blank = notes.indexOf('');
    const map = call('d88_map', k);
    const names = lines(call('d88_names', k));
    const fates = names.map((name, i) => exports.d88_zip_fate(k, i));
    pages.push({
      names,
      writable: notes.slice(blank + 1, -1).map((state, i) => exports.d88_writable(k, i) === 1),
      fates,
      losses: names.map((name, i) => lines(call('d88_losses', k, i))),
      notes: notes.slice(0, blank),
      states: notes.slice(blank + 1, -1),
      svg: map.status === 0 ? text(map.out) : null,
    });
    const hash = call('d88_hash', k);
    pages[k].hashes = hash.status === 0 ? JSON.parse(text(hash.out)) : null;
  }
  return { images, json: text(list.out), summary: text(summary.out).trim(), verdict: summary.status, pages };
}

// Lets go of the container of id: its bytes are held no longer.
function forget({ id }) {
  containers.delete(id);
  if (openId === id) {
    openId = null;
    container = new Uint8Array(0);
  }
  return {};
}

function take({ id, verb, image, file }) {
  open(id);
  const result = verb === 'zip' ? call('d88_zip', image) : call('d88_file', image, file);
  return { status: result.status, bytes: result.out };
}

// One image's bytes, where d88_hash placed them: a container of its own.
const disk = ({ id, offset, size }) => ({ status: 0, bytes: containers.get(id).slice(offset, offset + size) });

const verbs = { survey, forget, zip: take, file: take, disk };

self.onmessage = async ({ data }) => {
  let answer;
  try {
    await loaded;
    answer = verbs[data.verb](data);
  } catch (error) {
    answer = { failure: String(error) };
  }
  self.postMessage({ ...answer, serial: data.serial });
};
