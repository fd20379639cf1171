'use strict';
// Drives the page in the system's Chromium and checks what it shows and
// hands out, and the disks it edits, against the d88 program for every sample:
//   node browser-test.js NATIVE_BUILD_DIR WEB_BUILD_DIR
const { chromium } = require('playwright-core');
const { execFileSync, spawnSync } = require('child_process');
const { createHash } = require('crypto');
const assert = require('assert/strict');
const fs = require('fs');
const http = require('http');
const os = require('os');
const path = require('path');

const [native, web] = process.argv.slice(2).map((dir) => path.resolve(dir));
const site = path.join(web, 'site');
const scratch = fs.mkdtempSync(path.join(os.tmpdir(), 'd88-web-'));
const d88 = (...args) => spawnSync(path.join(native, 'd88'), args, { cwd: scratch });
execFileSync(path.join(native, 'make_samples'), [scratch]);
const sampleBytes = (name) => fs.readFileSync(path.join(scratch, name));

// The record of sector r of track in the D88 image at base.
function sectorAt(bytes, base, track, r) {
  let at = base + bytes.readUInt32LE(base + 0x20 + 4 * track);
  for (let n = bytes.readUInt16LE(at + 4); n > 0; n--, at += 16 + bytes.readUInt16LE(at + 14)) {
    if (bytes[at + 2] === r) return at;
  }
  throw new Error(`no sector ${r} on track ${track}`);
}

// Containers a worn disk or a careless dump leaves: a directory read with
// a CRC error, then a disk of unknown medium, then one cut short; and
// names that show alike (the byte 0x01 and the text \x01, a byte that is
// no character and the text \x80), before one no file may take.
const crcDirectory = sampleBytes('sample-2hd.d88');
crcDirectory[sectorAt(crcDirectory, 0, 0, 2) + 8] = 0xb0;
const unknownMedium = sampleBytes('sample-2hd.d88');
unknownMedium[0x1b] = 0x30;
unknownMedium.fill(0, 0x20, 0x2b0);
fs.writeFileSync(path.join(scratch, 'test-worn.d88'),
  Buffer.concat([crcDirectory, unknownMedium, sampleBytes('sample-2hd.d88').subarray(0, 600000)]));
const names = sampleBytes('sample-shift-jis.d88');
const entry = (i) => sectorAt(names, 0, 0, 2) + 16 + 10 * i;
names.copy(names, entry(5), entry(3), entry(3) + 10);
names.copy(names, entry(4), entry(1), entry(1) + 10);
names.write('\x01   ', entry(0), 'latin1');
names.write('\x80   ', entry(2), 'latin1');
names.write('\\x01', entry(3), 'latin1');
names.write('\\x80', entry(4), 'latin1');
fs.writeFileSync(path.join(scratch, 'test-names.d88'), names);
// D88_WEB_SAMPLES=a.d88,b.d88 checks only those (none: only the page's work).
const only = process.env.D88_WEB_SAMPLES?.split(',');
const samples = fs.readdirSync(scratch).filter((name) => name.endsWith('.d88') && (!only || only.includes(name))).sort();

// What d88 prints for image k of sample: its notes and its files' states.
function expectedText(sample, k) {
  const run = d88('list', sample);
  const lines = (run.stderr + run.stdout).split('\n');
  const summary = d88('test', sample).stdout.toString().trim().split('\n').pop();
  const notes = lines.filter((line) => line.startsWith(`d88: image ${k}:`)
    || (line.startsWith(`image ${k}: `) && line !== `image ${k}: FAT12`));
  const start = lines.findIndex((line) => line.startsWith(`image ${k} "`));
  const states = [];
  const names = [];
  const fileLines = [];
  for (const line of lines.slice(start + 1)) {
    const state = /SIZE=-?\d+ {2}(.*)$/.exec(line);
    if (/^image \d+ "/.test(line)) break;
    if (!state) continue;
    states.push(state[1]);
    names.push(line.split(' ')[0]);
    fileLines.push(line);
  }
  return { notes, states, names, lines: fileLines, summary };
}

// The CRC-32 a .zip entry records (Node 18 has no zlib.crc32).
function crc32(bytes) {
  let crc = ~0;
  for (const byte of bytes) {
    crc ^= byte;
    for (let bit = 0; bit < 8; bit++) crc = (crc >>> 1) ^ (0xedb88320 & -(crc & 1));
  }
  return ~crc >>> 0;
}

// The entries of a stored .zip: name -> { bytes, utf8Flag }.
function unzip(zip) {
  const entries = new Map();
  const end = zip.lastIndexOf(Buffer.from([0x50, 0x4b, 0x05, 0x06]));
  let at = zip.readUInt32LE(end + 16);
  for (let n = zip.readUInt16LE(end + 10); n > 0; n--) {
    const nameLength = zip.readUInt16LE(at + 28);
    const name = zip.subarray(at + 46, at + 46 + nameLength).toString('utf8');
    const local = zip.readUInt32LE(at + 42);
    const size = zip.readUInt32LE(at + 24);
    const data = local + 30 + zip.readUInt16LE(local + 26) + zip.readUInt16LE(local + 28);
    const bytes = zip.subarray(data, data + size);
    assert.equal(zip.readUInt32LE(at + 16), crc32(bytes), `CRC of ${name}`);
    entries.set(name, { bytes, utf8: (zip.readUInt16LE(at + 8) & 0x800) !== 0 });
    at += 46 + nameLength + zip.readUInt16LE(at + 30) + zip.readUInt16LE(at + 32);
  }
  return entries;
}

async function downloaded(page, click, name = undefined) {
  const [download] = await Promise.all([page.waitForEvent('download', { timeout: 10000 }), click()]);
  if (name) assert.equal(download.suggestedFilename(), name);
  return fs.readFileSync(await download.path());
}

// Drops files (name -> bytes, or a size for zeros) on the page.
async function drop(page, files) {
  const shown = await page.locator('article.container').count();
  await page.evaluate((list) => {
    const transfer = new DataTransfer();
    for (const [name, base64, zeros] of list) {
      const bytes = zeros ? new Uint8Array(zeros) : Uint8Array.from(atob(base64), (c) => c.charCodeAt(0));
      transfer.items.add(new File([bytes], name));
    }
    document.dispatchEvent(new DragEvent('drop', { dataTransfer: transfer, bubbles: true }));
  }, files.map(([name, bytes]) => (typeof bytes === 'number' ? [name, '', bytes] : [name, bytes.toString('base64'), 0])));
  const done = () => page.evaluate((n) => document.getElementById('status').textContent === 'Done.'
    && document.querySelectorAll('article.container').length === n, shown + files.length);
  while (!await done()) await new Promise((resolve) => setTimeout(resolve, 20));
  return page.locator('article.container').nth(shown);
}

async function checkImage(page, sample, section, image) {
  const k = image.index;
  assert.equal(await section.locator('h3').textContent(), `Image ${k}: ${image.name.text}`);
  assert.equal(await section.locator('h3 span').getAttribute('title'), `bytes: ${image.name.hex}`);
  const expected = expectedText(sample, k);
  assert.deepEqual(await section.locator('ul.notes li').allTextContents(), expected.notes, `${sample} ${k} notes`);
  await checkDisk(page, sample, section, k);
  if (image.medium === null) return;
  // By the names a screen reader announces, and by keyboard.
  const rows = section.getByRole('table', { name: `Files of image ${k}` }).locator('tbody tr');
  const extracted = path.join(scratch, `${sample}-${k}`);
  d88('extract', '-i', String(k), '-C', extracted, sample);
  const zipFile = await downloaded(page, () => section.getByRole('button', { name: /\(\.zip\)$/ }).press('Enter'));
  const zip = unzip(zipFile);
  if (image.fileSystem !== 'flat') return checkEntries(page, sample, section, image, zip);
  const zipped = [];
  const leftOut = [];
  const written = fs.readdirSync(extracted, { encoding: 'buffer' });
  assert.equal(await rows.count(), expected.names.length, `${sample} ${k} rows`);
  for (const [i, name] of expected.names.entries()) {
    const hex = image.files[i]?.name.hex ?? Buffer.from(name).toString('hex');
    const cells = await rows.nth(i).locator('th, td').evaluateAll((all) => all.map((cell) => cell.firstChild?.textContent ?? ''));
    const [, shownName, location, size, state] = /^(\S*) *(TRK=\S+ SEC=\S+) SIZE=(-?\d+) {2}(.*)$/.exec(expected.lines[i]);
    assert.deepEqual(cells.slice(0, 4), [shownName, size, location, state], `${sample} ${k} file ${i}`);
    const writtenName = written.find((bytes) => bytes.toString('hex') === hex);
    if (!writtenName) {
      assert.equal(cells[4], 'refused: not a plain file name', `${sample} ${name} refused`);
      leftOut.push(`${name}: refused as d88 extract refuses it (not a plain file name)`);
      continue;
    }
    const bytes = fs.readFileSync(Buffer.concat([Buffer.from(`${extracted}/`), writtenName]));
    await checkLosses(rows.nth(i), bytes, `${sample} ${name}`);
    const button = rows.nth(i).getByRole('button', { name: `Download ${name}`, exact: true });
    assert.deepEqual(await downloaded(page, () => button.press('Enter')), bytes, `${sample} ${name}`);
    // Of names that come out alike in the .zip, the last is kept.
    if (expected.names.slice(i + 1).some((later, j) => later === name
      && written.some((bytes) => bytes.toString('hex') === image.files[i + 1 + j].name.hex))) {
      leftOut.push(`${name}: a later file takes the same name, as d88 extract writes the last of them`);
      continue;
    }
    assert.deepEqual(zip.get(name), { bytes, utf8: true }, `${sample} zip ${name}`);
    zipped.push([name, bytes]);
  }
  assert.deepEqual([...zip.keys()], zipped.map(([name]) => name), `${sample} zip entries`);
  assert.deepEqual(await section.locator('.left-out li').allTextContents(), leftOut, `${sample} left out`);
  checkUnzip(zipFile, zipped, `${sample} ${k}`);
  await checkMap(page, sample, section, k);
}

// Image k alone: the hashes shown are d88 hash's line of it; the disk
// downloaded is the bytes they hash, and the file d88 split writes for it
// (test-worn.d88, cut short, is no container d88 split splits).
async function checkDisk(page, sample, section, k) {
  const [size, crc32, sha1, content] = await section.locator('.hashes dd').allTextContents();
  const line = d88('hash', sample).stdout.toString().split('\n')[k];
  assert.equal(`${sample} #${k}  size ${size}  crc32 ${crc32}  sha1 ${sha1}  content ${content}`, line);
  const name = sample.replace(/\.d88$/, `-${k}.d88`);
  const button = section.getByRole('button', { name: 'Download this disk (.d88)' });
  const bytes = await downloaded(page, () => button.press('Enter'), name);
  assert.equal(createHash('sha1').update(bytes).digest('hex'), sha1, `${name} as hashed`);
  const split = fs.mkdtempSync(path.join(scratch, 'split-'));
  if (d88('split', '-C', split, sample).status === 0 || sample !== 'test-worn.d88') {
    assert.deepEqual(bytes, fs.readFileSync(path.join(split, name)), `${name} as split`);
  }
}

// Debian's unzip makes of the .zip, marked as made on Unix, the files
// named and holding what entries (name, bytes) say.
function checkUnzip(zipFile, entries, what) {
  const dir = fs.mkdtempSync(path.join(scratch, 'unzip-'));
  fs.writeFileSync(path.join(dir, 'files.zip'), zipFile);
  execFileSync('unzip', ['-q', 'files.zip', '-d', 'out'], { cwd: dir });
  const listed = execFileSync('unzip', ['-Z', 'files.zip'], { cwd: dir }).toString().split('\n').filter((line) => /^[-d]/.test(line));
  assert.ok(listed.every((line) => / unx /.test(line)), `${what}: made on Unix\n${listed.join('\n')}`);
  const made = fs.readdirSync(path.join(dir, 'out')).sort();
  assert.deepEqual(made, entries.map(([name]) => name).sort(), `${what}: names out of unzip`);
  for (const [name, bytes] of entries) assert.deepEqual(fs.readFileSync(path.join(dir, 'out', name)), bytes, name);
}

// What the row of a damaged file says it lost: the bytes said to be
// written as zeros are zeros in the file d88 extract writes.
async function checkLosses(row, bytes, what) {
  for (const loss of await row.locator('.losses li').allTextContents()) {
    const [, from, to, zeros] = /^bytes (\d+)-(\d+) \(.*\): written as (zeros)?/.exec(loss);
    if (zeros) assert.ok(bytes.subarray(Number(from), Number(to) + 1).every((b) => b === 0), `${what}: ${loss}`);
  }
}

// The map shown and downloaded is d88 map's SVG.
async function checkMap(page, sample, section, k) {
  const svgFile = path.join(scratch, `${sample}-${k}.svg`);
  d88('map', '--svg', svgFile, '-i', String(k), sample);
  const svg = fs.readFileSync(svgFile);
  assert.deepEqual(await downloaded(page, () => section.getByText('Download the map (SVG)').click()), svg);
  const titles = [...svg.toString().matchAll(/<title>([^<]*)</g)].map((match) => match[1]
    .replace(/&quot;/g, '"').replace(/&lt;/g, '<').replace(/&gt;/g, '>').replace(/&amp;/g, '&'));
  assert.deepEqual(await section.locator('figure svg title').allTextContents(), titles);
}

// Another file system: the rows are d88 list's lines, the zip holds the
// folders and files by path.
async function checkEntries(page, sample, section, image, zip) {
  const listing = d88('list', sample).stdout.toString().split('\n').filter((line) => line.includes('  ') && !line.startsWith('image '));
  const rows = await section.locator('tbody tr').evaluateAll((trs) => trs.map((tr) => [...tr.cells].map((cell) => cell.textContent)));
  assert.deepEqual(rows.map(([name, size, date, state]) => `${[name, size, date].filter(Boolean).join(' ')}  ${state}`), listing);
  assert.deepEqual([...zip.keys()], rows.map(([name]) => name), `${sample} zip entries`);
  for (const file of image.files) assert.equal(zip.get(file.path.text).bytes.length, file.size, file.path.text);
  const last = image.files[image.files.length - 1].path.text;
  const button = section.getByRole('button', { name: `Download ${last}`, exact: true });
  assert.deepEqual(await downloaded(page, () => button.press('Enter')), zip.get(last).bytes);
  await checkMap(page, sample, section, image.index);
  if (sample !== 'sample-pc98-fat12.d88') return;
  assert.deepEqual((await section.locator('.facts dd').allTextContents()).slice(-2), ['77×2×8×1024 (2HD)', 'FAT12']);
  assert.deepEqual(rows.map(([name]) => name).filter((name) => name.startsWith('DOCS/')), ['DOCS/', 'DOCS/ｶﾅ.TXT', 'DOCS/TBL.BIN', 'DOCS/LINES.TXT']);
}

// Files dropped as the page gets them: name -> bytes, or null for one that
// cannot be read (a folder, a file deleted since it was chosen).  Returns
// the status texts seen until the page is done, each with how many
// summaries were shown then, and how long the drop took to show its last.
async function dropFiles(page, files) {
  return page.evaluate((list) => new Promise((resolve) => {
    const groups = list.map((group) => group.map(([name, base64]) => {
      const file = new File([Uint8Array.from(atob(base64 ?? ''), (c) => c.charCodeAt(0))], name);
      if (base64 === null) file.arrayBuffer = () => Promise.reject(new DOMException('gone', 'NotFoundError'));
      return file;
    }));
    const seen = [];
    const status = document.getElementById('status');
    const started = performance.now();
    new MutationObserver(() => {
      seen.push([status.textContent, document.querySelectorAll('.summary').length]);
      if (status.textContent === 'Done.') resolve({ seen, milliseconds: performance.now() - started });
    }).observe(status, { childList: true, characterData: true, subtree: true });
    for (const dropped of groups) {
      const event = new Event('drop', { bubbles: true });
      Object.defineProperty(event, 'dataTransfer', { value: { files: dropped } });
      document.dispatchEvent(event);
    }
  }), files.map((group) => group.map(([name, bytes]) => [name, bytes && bytes.toString('base64')])));
}

// The bytes of containers the worker holds.
const heldBytes = (page) => page.workers()[0].evaluate(() => [...containers.values()].reduce((sum, bytes) => sum + bytes.length, 0));

// The page while it works: a file that cannot be read, a second drop
// while the first is read, the same file chosen again, views closed.
async function checkWork(page) {
  const [small, article] = [sampleBytes('sample-2hd.d88'), (n) => page.locator('article.container').nth(n)];
  const large = Buffer.concat(Array(4).fill(small));
  const unreadable = await dropFiles(page, [[['gone.d88', null], ['sample-2hd.d88', small]]]);
  assert.match(await article(0).locator('.problem').textContent(), /^Could not be read \(NotFoundError\)/);
  assert.equal(await article(1).locator('.summary').textContent(), expectedText('sample-2hd.d88', 0).summary);
  assert.deepEqual(unreadable.seen.at(-1), ['Done.', 1]);
  fs.writeFileSync(path.join(scratch, 'large.d88'), large);
  const twice = await dropFiles(page, [[['other.d88', small]], [['large.d88', large]]]);
  assert.deepEqual(twice.seen.filter(([text]) => text === 'Done.'), [['Done.', 3]], 'the status while work remains');
  assert.equal(await article(3).locator('.summary').textContent(), expectedText('large.d88', 0).summary);
  const shown = Number(/Shown (\d+) ms/.exec(await article(3).locator('.timing').textContent())[1]);
  assert.ok(shown >= 0.8 * twice.milliseconds && shown <= twice.milliseconds, `shown ${shown} ms of ${twice.milliseconds}`);
  // Each container is held while its view is shown, and no longer.
  for (let i = 0; i < 3; i++) await dropFiles(page, [[['large.d88', large]]]);
  assert.equal(await heldBytes(page), 2 * small.length + large.length);
  for (const name of ['large.d88', 'other.d88', 'sample-2hd.d88']) await page.getByRole('button', { name: `Close ${name}` }).click();
  assert.equal(await page.locator('article.container').count(), 1);
  for (let tries = 0; tries < 50 && await heldBytes(page) > 0; tries++) await new Promise((resolve) => setTimeout(resolve, 20));
  assert.equal(await heldBytes(page), 0);
  // The same file chosen twice is read twice.
  for (let i = 0; i < 2; i++) {
    await page.locator('#choose').setInputFiles(path.join(scratch, 'sample-2hd.d88'));
    assert.equal(await page.locator('#choose').inputValue(), '', 'the input takes the same file again');
  }
}

// Edits a user makes in the page, one after another on a blank disk of
// each file system (the flat one the second disk of its container, after
// a sample): [disk, change, items, field, said].  Items are host
// files to add, else the names of the rows whose buttons are pressed (or
// the folder to make); field is the name (flat) or folder (FAT12) typed;
// said is the status line of an edit done, null for one d88 refuses.
const EDITS = [
  ['flat.d88', 'add', ['HI'], '', 'Added HI to image 1.'],
  ['flat.d88', 'add', ['hello.txt'], 'A<B', null],
  ['flat.d88', 'add', ['big.bin'], 'BIG', null],
  ['flat.d88', 'add', ['hello.txt'], 'ｶﾅ', 'Added hello.txt to image 1.'],
  ['flat.d88', 'remove', ['HI'], '', 'Removed HI from image 1.'],
  ['fat.d88', 'add', ['hello.txt', '漢字.TXT'], '', 'Added hello.txt, 漢字.TXT to image 0.'],
  ['fat.d88', 'add', ['big.bin'], '', null],
  ['fat.d88', 'add', ['€.txt'], '', null],
  ['fat.d88', 'remove', ['hello.txt'], '', 'Removed hello.txt from image 0.'],
  ['fat.d88', 'mkdir', ['DOCS'], '', 'Made the folder DOCS on image 0.'],
  ['fat.d88', 'add', ['HI', 'hello.txt'], 'DOCS', 'Added HI, hello.txt to image 0.'],
  ['fat.d88', 'rmdir', ['DOCS/'], '', null],
  ['fat.d88', 'remove', ['DOCS/HI'], '', 'Removed DOCS/HI from image 0.'],
  ['fat.d88', 'mkdir', ['OLD'], '', 'Made the folder OLD on image 0.'],
  ['fat.d88', 'rmdir', ['OLD/'], '', 'Removed OLD/ from image 0.'],
];

// d88 on this machine in the page's time zone (in POSIX's words, which
// need no tzdata) and a UTF-8 locale, as a user who types Japanese names
// runs it; in the folder of the host files.
const TIME_ZONE = 'Asia/Tokyo';
const host = path.join(scratch, 'host');
const cli = (...args) => spawnSync(path.join(native, 'd88'), args,
  { cwd: host, env: { ...process.env, TZ: 'JST-9', LC_ALL: 'C.UTF-8' } });

// The disk of each container edited.
const EDITED = { 'flat.d88': 1, 'fat.d88': 0 };

// The paths d88 list shows of disk k, folders with their slash.
const listed = (container, k) => cli('list', '-i', String(k), container).stdout.toString().split('\n')
  .filter((line) => line !== '' && !/^image \d/.test(line)).map((line) => line.split(' ')[0]);

// Each edit of EDITS in the page and by d88 on a copy of its own: the page
// says what d88 says, shows the files d88 lists, and hands out the
// container d88 writes (but for the times of new folders).  Then the FAT12
// volume passes fsck.fat and gives mtools the files added.
async function checkEdits(openPage) {
  fs.mkdirSync(host);
  const when = new Date('2024-03-05T06:07:08Z');
  const hostFiles = { HI: 'hi\n', 'hello.txt': 'hello, disk\r\n', '漢字.TXT': 'kanji', '€.txt': 'euro', 'big.bin': Buffer.alloc(1300000, 0xe5) };
  for (const [name, bytes] of Object.entries(hostFiles)) {
    fs.writeFileSync(path.join(host, name), bytes);
    fs.utimesSync(path.join(host, name), when, when);
  }
  const pages = {};
  assert.equal(cli('new', '-m', '2HD', 'blank.d88').status, 0);
  assert.equal(cli('join', '../flat.d88', '../sample-2hd.d88', 'blank.d88').status, 0);
  assert.equal(cli('new', '-f', 'fat12', '-m', '2HD', '../fat.d88').status, 0);
  for (const disk of Object.keys(EDITED)) {
    fs.copyFileSync(path.join(scratch, disk), path.join(scratch, `cli-${disk}`));
    pages[disk] = await openPage();
    await drop(pages[disk], [[disk, sampleBytes(disk)]]);
  }
  const changed = async (disk) => {
    const bytes = await downloaded(pages[disk], () => pages[disk].getByRole('button', { name: 'Download changed container' }).click(), disk);
    fs.writeFileSync(path.join(scratch, `page-${disk}`), bytes);
    return bytes;
  };
  const cliBytes = (disk) => fs.readFileSync(path.join(scratch, `cli-${disk}`));
  const firstFolder = EDITS.find(([, change]) => change === 'mkdir');
  for (const edit of EDITS) {
    if (edit === firstFolder) assert.deepEqual(await changed('fat.d88'), cliBytes('fat.d88'), 'fat.d88 as d88 writes it');
    await checkEdit(pages[edit[0]], edit);
  }
  assert.deepEqual(await changed('flat.d88'), cliBytes('flat.d88'), 'flat.d88 as d88 writes it');
  await changed('fat.d88');
  for (const [disk, name, file] of [['flat.d88', 'ｶﾅ', 'hello.txt'], ['fat.d88', '漢字.TXT', '漢字.TXT'], ['fat.d88', 'DOCS/hello.txt', 'hello.txt']]) {
    assert.deepEqual(cli('cat', '-i', String(EDITED[disk]), `../page-${disk}`, name).stdout, Buffer.from(hostFiles[file]), `d88 cat ${disk} ${name}`);
  }
  assert.equal(cli('export', '-f', 'raw', '../page-fat.d88', '../page-fat.raw').status, 0);
  const raw = path.join(scratch, 'page-fat.raw');
  const fsck = spawnSync('fsck.fat', ['-n', raw]);
  assert.deepEqual([fsck.status, fsck.stdout.toString().split('\n').length], [0, 3], `fsck.fat: ${fsck.stdout}${fsck.stderr}`);
  assert.deepEqual(execFileSync('mdir', ['-/', '-b', '-i', raw, '::/DOCS']).toString().trim().split('\n'), ['::/DOCS/hello.txt']);
  assert.deepEqual(execFileSync('mcopy', ['-i', raw, '::/DOCS/hello.txt', '-']), Buffer.from(hostFiles['hello.txt']), 'mcopy');
  await pages['fat.d88'].screenshot({ path: path.join(web, 'page-edit-1400-light.png'), fullPage: true });
  for (const page of Object.values(pages)) await page.close();
}

// One edit of EDITS (on the disk shown in page), made by d88 on its copy too.
async function checkEdit(page, [disk, change, items, field, said]) {
  const k = EDITED[disk];
  const section = page.locator('section.image').nth(k);
  const what = `${disk} ${change} ${items}`;
  const fat = disk === 'fat.d88';
  const args = {
    add: () => [...items, ...(field === '' ? [] : ['--as', fat ? `${field}/` : field])],
    remove: () => items,
    mkdir: () => items,
    rmdir: () => items.map((folder) => folder.replace(/\/$/, '')),
  }[change]();
  const run = cli(change === 'remove' ? 'rm' : change, '-i', String(k), `../cli-${disk}`, ...args);
  const shown = section.locator('.edit-status');
  await shown.evaluate((line) => { line.textContent = ''; });
  if (change === 'add') {
    await section.getByLabel('Files to add').setInputFiles(items.map((name) => path.join(host, name)));
    await section.getByLabel(fat ? 'Into the folder (optional)' : 'Name on the disk (optional, one file)').fill(field);
    await section.getByRole('button', { name: `Add to image ${k}` }).click();
  } else if (change === 'mkdir') {
    await section.getByLabel('New folder').fill(items[0]);
    await section.getByRole('button', { name: 'Make folder' }).click();
  } else {
    await section.getByRole('button', { name: `Remove ${items[0]} from image ${k}`, exact: true }).click();
  }
  for (let tries = 0; tries < 250 && await shown.textContent() === ''; tries++) await new Promise((resolve) => setTimeout(resolve, 20));
  assert.equal(await shown.textContent(), said ?? run.stderr.toString().trim(), what);
  assert.equal(run.status, said === null ? 1 : 0, `${what}: d88 says ${run.stderr}`);
  assert.deepEqual(await section.locator('tbody th').allTextContents(), listed(`../cli-${disk}`, k), `${what}: rows`);
}

async function main() {
  const server = http.createServer((request, response) => {
    const file = path.join(site, path.normalize(decodeURIComponent(request.url.split('?')[0])));
    const types = { '.html': 'text/html', '.js': 'text/javascript', '.css': 'text/css', '.wasm': 'application/wasm' };
    if (!file.startsWith(site) || !fs.existsSync(file) || fs.statSync(file).isDirectory()) {
      response.writeHead(404).end();
      return;
    }
    response.writeHead(200, { 'Content-Type': types[path.extname(file)] || 'application/octet-stream' });
    response.end(fs.readFileSync(file));
  });
  await new Promise((resolve) => server.listen(0, '127.0.0.1', resolve));
  const origin = `http://127.0.0.1:${server.address().port}`;
  const profile = fs.mkdtempSync(path.join(os.tmpdir(), 'd88-profile-'));
  const context = await chromium.launchPersistentContext(profile, {
    executablePath: '/usr/bin/chromium',
    args: ['--headless', '--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run',
      '--disable-background-networking', '--disable-component-update', '--disable-sync'],
    acceptDownloads: true,
    viewport: { width: 1400, height: 900 },
    timezoneId: TIME_ZONE,
  });
  const requests = [];
  const errors = [];
  context.on('request', (request) => requests.push(request.url()));
  // A tab for each sample: Chromium stops a tab's downloads after a few
  // in quick succession, as it would ask a user whether to allow more.
  const openPage = async () => {
    const page = await context.newPage();
    page.on('console', (message) => message.type() === 'error' && errors.push(message.text()));
    page.on('pageerror', (error) => errors.push(String(error)));
    await page.goto(`${origin}/index.html`);
    return page;
  };
  let page = null;

  const sizes = fs.readdirSync(site).map((name) => fs.statSync(path.join(site, name)).size);
  const total = sizes.reduce((a, b) => a + b, 0);
  assert.ok(total <= 500 * 1024, `the page and all it loads: ${total} bytes`);
  for (const sample of samples) {
    page = await openPage();
    const article = await drop(page, [[sample, fs.readFileSync(path.join(scratch, sample))]]);
    const json = d88('list', '--json', sample).stdout;
    assert.deepEqual(await downloaded(page, () => article.getByText('Download the survey (JSON)').click()), json);
    const survey = JSON.parse(json);
    const sections = article.locator('section.image');
    assert.equal(await sections.count(), survey.images.length, sample);
    assert.equal(await article.locator('.summary').textContent(), expectedText(sample, 0).summary, `${sample} summary`);
    // Several disks: an index of them, the damaged ones marked.
    const indexed = survey.images.length < 2 ? [] : survey.images.map((image) => `Image ${image.index}: ${image.name.text}`
      + (expectedText(sample, image.index).notes.length > 0 || image.files.some((file) => !file.intact) ? ' (damaged)' : ''));
    assert.deepEqual(await article.locator('.image-index li').allTextContents(), indexed, `${sample} index`);
    for (const image of survey.images) await checkImage(page, sample, sections.nth(image.index), image);
    if (sample === 'sample-2hd.d88') console.log(`surveying ${sample}: ${await article.locator('.timing').textContent()}`);
  }
  const hostile = [
    ['random.bin', Buffer.from(Array.from({ length: 5 << 20 }, (_, i) => (i * 2654435761 >>> 24) & 0xff)),
      /does not look like a D88 container/],
    ['huge.d88', 33 << 20, /^Refused: 33\.0 MiB is over the 32\.0 MiB this page reads\.$/],
    ['empty.d88', Buffer.alloc(0), /holds no disk image/],
  ];
  page ??= await openPage();
  for (const [name, bytes, message] of hostile) {
    const article = await drop(page, [[name, bytes]]);
    assert.match(await article.locator('.problem').textContent(), message, name);
  }
  await checkWork(await openPage());
  await checkEdits(openPage);
  page = await openPage();
  await drop(page, [['sample-damaged.d88', fs.readFileSync(path.join(scratch, 'sample-damaged.d88'))]]);
  // On a 360-pixel screen the map's legend is whole, a bad sector's mark
  // big enough to see, the track numbers marked as hex.
  await page.setViewportSize({ width: 360, height: 900 });
  const map = page.locator('figure.map svg').first();
  const legendRight = await map.evaluate((svg) => Math.max(...[...svg.querySelectorAll('rect[stroke="#666"]')]
    .map((swatch) => swatch.nextElementSibling.getBoundingClientRect().right)));
  assert.ok(legendRight <= 360, `the legend ends at ${legendRight} px`);
  const marks = await map.evaluate((svg) => [...svg.querySelectorAll('rect:not(.cell):not([stroke])[fill]')]
    .filter((mark) => mark.getAttribute('fill') !== '#ffffff').map((mark) => mark.getBoundingClientRect())
    .map(({ width, height }) => Math.min(width, height)));
  assert.ok(marks.length === 3 && marks.every((side) => side >= 4), `marks ${marks}`);
  const trackLabels = await map.evaluate((svg) => [...svg.querySelectorAll('text[y="32"]')].map((label) => label.textContent));
  assert.ok(trackLabels.length > 0 && trackLabels.every((label) => /^0x[0-9a-f]+$/.test(label)), `${trackLabels}`);
  for (const [width, scheme] of [[1400, 'light'], [360, 'light'], [360, 'dark'], [1400, 'dark']]) {
    await page.setViewportSize({ width, height: 900 });
    await page.emulateMedia({ colorScheme: scheme });
    await page.screenshot({ path: path.join(web, `page-${width}-${scheme}.png`), fullPage: true });
  }
  await context.close();
  server.close();
  const outside = requests.filter((url) => !url.startsWith(`${origin}/`) && !url.startsWith('blob:') && !url.startsWith('data:'));
  assert.deepEqual(outside, [], 'requests that left the local server');
  assert.deepEqual(errors, [], 'console errors');
  console.log(`checked ${samples.length} samples and ${hostile.length} hostile files; ${requests.length} local requests`);
}

main().catch((error) => {
  console.error(error);
  process.exit(1);
});
