'use strict';
// Runs d88.wasm off the page's thread.  The module sees the container as
// the file /container, writes an edited copy to the file /copy and its
// answers to standard output; the few WASI calls it makes are answered
// here, from memory: nothing else exists.

const WASI_BADF = 8;
const WASI_INVAL = 28;
const WASI_NOENT = 44;
const WASI_NOSYS = 52;
const ROOT_FD = 3;  // the one directory, "/"
const FILETYPE_DIRECTORY = 3;
const FILETYPE_REGULAR = 4;
const OFLAGS_CREAT = 1;
const OFLAGS_TRUNC = 8;

let exports = null;
const files = { container: new Uint8Array(0), copy: new Uint8Array(0) };  // what each file reads
let copyChunks = null;  // what is written to /copy while it is open for writing
const open = new Map();  // fd -> { name, position, writing }
let nextFd = ROOT_FD + 1;
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
  // /container opens to read; /copy opens to read, or to be written anew
  // (created, truncated), one writer at a time.
  path_open(dirFd, lookup, path, pathLength, openFlags, rights, inherited, fdFlags, fdOut) {
    const name = new TextDecoder().decode(bytesAt(path, pathLength).slice());
    const writing = openFlags === (OFLAGS_CREAT | OFLAGS_TRUNC);
    if (dirFd !== ROOT_FD || !Object.hasOwn(files, name)) return WASI_NOENT;
    if (writing ? name !== 'copy' || copyChunks : openFlags !== 0) return WASI_INVAL;
    if (writing) copyChunks = [];
    open.set(nextFd, { name, position: 0, writing });
    memory().setUint32(fdOut, nextFd, true);
    nextFd += 1;
    return 0;
  },
  fd_read(fd, iovs, count, readOut) {
    const file = open.get(fd);
    if (!file || file.writing) return WASI_BADF;
    let total = 0;
    for (let i = 0; i < count; i++) {
      const address = memory().getUint32(iovs + 8 * i, true);
      const length = memory().getUint32(iovs + 8 * i + 4, true);
      const chunk = files[file.name].subarray(file.position, file.position + length);
      bytesAt(address, chunk.length).set(chunk);
      file.position += chunk.length;
      total += chunk.length;
    }
    memory().setUint32(readOut, total, true);
    return 0;
  },
  fd_seek(fd, offset, whence, positionOut) {
    const file = open.get(fd);
    if (!file || file.writing) return WASI_BADF;
    const base = [0, file.position, files[file.name].length][whence];
    const target = base + Number(offset);
    if (base === undefined || target < 0) return WASI_INVAL;
    file.position = target;
    memory().setBigUint64(positionOut, BigInt(target), true);
    return 0;
  },
  fd_filestat_get(fd, out) {
    const file = open.get(fd);
    if (!file || file.writing) return WASI_BADF;
    bytesAt(out, 64).fill(0);
    memory().setUint8(out + 16, FILETYPE_REGULAR);
    memory().setBigUint64(out + 32, BigInt(files[file.name].length), true);
    return 0;
  },
  fd_fdstat_get(fd, out) {
    if (fd !== ROOT_FD && !open.has(fd) && !(streams && streams[fd])) return WASI_BADF;
    bytesAt(out, 24).fill(0);
    memory().setUint8(out, fd === ROOT_FD ? FILETYPE_DIRECTORY : FILETYPE_REGULAR);
    return 0;
  },
  fd_fdstat_set_flags: () => 0,
  // A copy written is what /copy reads once closed.
  fd_close(fd) {
    const file = open.get(fd);
    if (file && file.writing) {
      files.copy = joined(copyChunks);
      copyChunks = null;
    }
    open.delete(fd);
    return 0;
  },
  fd_write(fd, iovs, count, writtenOut) {
    const file = open.get(fd);
    const chunks = file && file.writing ? copyChunks : streams && streams[fd];
    if (!chunks) return WASI_BADF;
    let total = 0;
    for (let i = 0; i < count; i++) {
      const address = memory().getUint32(iovs + 8 * i, true);
      const length = memory().getUint32(iovs + 8 * i + 4, true);
      chunks.push(bytesAt(address, length).slice());
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
function openContainer(id) {
  if (openId !== id) {
    files.container = containers.get(id);
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

// What the page shows of the container of id, named name.
function surveyed(id, name) {
  openId = null;
  const images = openContainer(id);
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

function survey({ id, name, bytes }) {
  containers.set(id, new Uint8Array(bytes));
  return surveyed(id, name);
}

// Puts the edit's items where the module reads them: their names (UTF-8,
// each with its terminator), each host file's bytes, size and time, the
// path an added file takes.  Returns the count the module is to take:
// one over its most when the names do not fit, which it refuses.
function putItems(names, hostFiles, path) {
  const encoded = names.map((name) => new TextEncoder().encode(`${name}\0`));
  const room = exports.d88_items_capacity();
  if (encoded.reduce((sum, name) => sum + name.length, 0) > room) return exports.d88_most_items() + 1;
  let at = exports.d88_items_buffer();
  for (const name of encoded) {
    bytesAt(at, name.length).set(name);
    at += name.length;
  }
  const target = new TextEncoder().encode(path).slice(0, exports.d88_path_capacity() - 1);
  bytesAt(exports.d88_path_buffer(), target.length + 1).set([...target, 0]);
  const most = Math.min(hostFiles.length, exports.d88_most_items());
  const sizes = new Float64Array(exports.memory.buffer, exports.d88_host_sizes(), most);
  const times = new Float64Array(exports.memory.buffer, exports.d88_host_times(), most);
  let offset = 0;
  hostFiles.slice(0, most).forEach(({ size, modified, bytes }, i) => {
    sizes[i] = size;
    times[i] = modified;
    // A file that does not fit is left out: the module finds no room for it.
    if (bytes && offset + size <= exports.d88_host_capacity()) bytesAt(exports.d88_host_buffer() + offset, size).set(new Uint8Array(bytes));
    offset += size;
  });
  return names.length;
}

// As d88 add, rm, mkdir or rmdir (change: add, remove, mkdir, rmdir) on image of the container of id:
// when the module's copy reads back, it becomes the container, surveyed
// anew; else d88's message says why not.
function edit({ id, name, image, change, items, hostFiles = [], path = '', now = 0 }) {
  openContainer(id);
  nameContainer(name);
  const count = putItems(items, hostFiles, path);
  const result = call(`d88_${change}`, image, count, now);
  const copied = files.copy;
  files.copy = new Uint8Array(0);
  const message = text(result.err).trim();
  if (result.status !== 0) return { status: result.status, message };
  containers.set(id, copied);
  return { status: 0, message, ...surveyed(id, name) };
}

// The whole container of id, as it is now.
const whole = ({ id }) => ({ status: 0, bytes: containers.get(id).slice() });

// Lets go of the container of id: its bytes are held no longer.
function forget({ id }) {
  containers.delete(id);
  if (openId === id) {
    openId = null;
    files.container = new Uint8Array(0);
  }
  return {};
}

function take({ id, verb, image, file }) {
  openContainer(id);
  const result = verb === 'zip' ? call('d88_zip', image) : call('d88_file', image, file);
  return { status: result.status, bytes: result.out };
}

// One image's bytes, where d88_hash placed them: a container of its own.
const disk = ({ id, offset, size }) => ({ status: 0, bytes: containers.get(id).slice(offset, offset + size) });

const verbs = { survey, forget, zip: take, file: take, disk, edit, whole };

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
