'use strict';
// The page: hands each chosen container to the worker, which runs d88's
// survey, and shows what it answers.  Nothing is sent anywhere.

const MOST_BYTES = 32 * 1024 * 1024;  // larger files are refused
const worker = new Worker('worker.js');
const pending = new Map();  // serial -> resolve
let serial = 0;
let containerId = 0;

worker.onmessage = ({ data }) => {
  pending.get(data.serial)(data);
  pending.delete(data.serial);
};

// Sends message to the worker; resolves with its answer.
function ask(message, transfer = []) {
  serial += 1;
  const mine = serial;
  return new Promise((resolve) => {
    pending.set(mine, resolve);
    worker.postMessage({ ...message, serial: mine }, transfer);
  });
}

// Returns a new element: tag, its properties, its children.
function element(tag, properties = {}, ...children) {
  const made = document.createElement(tag);
  Object.assign(made, properties);
  made.append(...children.filter((child) => child !== null && child !== undefined));
  return made;
}

const hex2 = (value) => value.toString(16).padStart(2, '0');
const mebibytes = (bytes) => `${(bytes / 1048576).toFixed(1)} MiB`;

// Offers bytes as a download named name.
function save(bytes, name, type) {
  const url = URL.createObjectURL(new Blob([bytes], { type }));
  const link = element('a', { href: url, download: name });
  document.body.append(link);
  link.click();
  link.remove();
  setTimeout(() => URL.revokeObjectURL(url), 60000);
}

// A name as d88 prints it (shown, its controls as \\xNN), its bytes in hex
// on hover.
function nameText(name, className = 'disk-name', shown = name.text) {
  return element('span', { className, title: `bytes: ${name.hex}` }, shown);
}

function status(text) {
  document.getElementById('status').textContent = text;
}

// The work under way: the status says so until none is left.
let working = 0;
async function busy(text, work) {
  working += 1;
  status(text);
  try {
    return await work();
  } finally {
    working -= 1;
    if (working === 0) status('Done.');
  }
}

// The button that downloads file index of image (named as path says), or
// why d88 extract refuses it.
function takeButton(id, image, file, index, refused, path = file.name) {
  if (refused) return element('span', { className: 'refused' }, 'refused: not a plain file name');
  return element('button', {
    type: 'button',
    textContent: 'Download',
    ariaLabel: `Download ${path.text}`,
    onclick: async () => {
      const answer = await busy(`Reading ${path.text}…`, () => ask({ verb: 'file', id, image: image.index, file: index }));
      if (answer.status === 0) save(answer.bytes, file.name.text, 'application/octet-stream');
      else status(`${path.text}: refused: not a plain file name`);
    },
  });
}

// The row of file index of a flat disk, from d88 list's line of it; its
// Remove button takes off entry index.
function fileRow(container, image, index, page) {
  const { id } = container;
  const [, name, location, size, state] = /^(\S*) *(TRK=\S+ SEC=\S+) SIZE=(-?\d+) {2}(.*)$/.exec(page.states[index]);
  const losses = page.losses[index].length === 0 ? null
    : element('ul', { className: 'losses' }, ...page.losses[index].map((loss) => element('li', {}, loss)));
  const file = image.files[index] ?? { name: { text: name, hex: '' } };
  return element('tr', { className: state === 'intact' ? 'intact' : 'damaged' },
    element('th', { scope: 'row' }, nameText(file.name, 'file-name', name)),
    element('td', { className: 'number' }, size),
    element('td', {}, location),
    element('td', { className: 'state' }, state, losses),
    element('td', {}, takeButton(id, image, file, index, !page.writable[index], { text: name })),
    element('td', {}, removeButton(container, image.index, `#${index}`, name)));
}

// The rows of a disk read through another file system than the flat
// directory: d88 list's lines of its folders and files (lines: path, size
// for a file, date, two spaces, state), in their order; FAT12's Remove
// buttons take off a file or an empty folder by its path.
function entryRows(container, image, lines, writable, names) {
  const { id } = container;
  const remove = (...args) => (image.fileSystem === 'FAT12' ? removeButton(container, image.index, ...args) : null);
  let folder = 0;
  let index = 0;
  return lines.map((line) => {
    const file = image.files[index];
    const isFolder = folder < image.folders.length && line.startsWith(`${image.folders[folder]}/ `);
    const path = isFolder ? `${image.folders[folder]}/` : `${file.path.text} ${file.size}`;
    const shown = isFolder ? path : `${names[index]} ${file.size}`;
    const [, date = '', state] = /^(?: (\S+ \S+))?  (.*)$/.exec(line.slice(shown.length));
    const cells = isFolder
      ? [element('th', { scope: 'row' }, element('span', { className: 'file-name' }, path)),
        element('td', {}), element('td', { className: 'date' }, date), element('td', { className: 'state' }, state),
        element('td', {}), element('td', {}, remove(image.folders[folder], path, true))]
      : [element('th', { scope: 'row' }, nameText(file.path, 'file-name', names[index])),
        element('td', { className: 'number' }, String(file.size)), element('td', { className: 'date' }, date),
        element('td', { className: 'state' }, state),
        element('td', {}, takeButton(id, image, file, index, !writable[index], { text: names[index] })),
        element('td', {}, remove(file.path.text, names[index]))];
    if (isFolder) folder += 1;
    else index += 1;
    return element('tr', { className: state === 'intact' ? 'intact' : 'damaged' }, ...cells);
  });
}

// The file system in words.
function fileSystemText(name) {
  if (name === 'flat') return 'flat directory';
  return name === null ? 'no file system recognised' : name;
}

// The geometry as cylinders x heads x sectors x bytes, with its family
// and track 0's own shape; "unknown" when the records show none.
function geometryText(geometry) {
  if (geometry === null) return 'unknown';
  const { cylinders, heads, sectorsPerTrack, sectorBytes, family, track0 } = geometry;
  return `${cylinders}×${heads}×${sectorsPerTrack}×${sectorBytes}`
    + (family === null ? '' : ` (${family})`)
    + (track0 === undefined ? '' : `, track 0 ${track0.sectorsPerTrack}×${track0.sectorBytes}`);
}

// The name d88 split gives image k of the container name: NAME-k.EXT.
function splitName(name, k) {
  const dot = name.lastIndexOf('.');
  return dot > 0 ? `${name.slice(0, dot)}-${k}${name.slice(dot)}` : `${name}-${k}`;
}

// Image k alone: its hashes as d88 hash prints them, and a button that
// downloads it as d88 split writes it.
function diskPart(id, containerName, k, hashes) {
  if (hashes === null) return null;
  const fact = (term, value, title = '') => [element('dt', { title }, term), element('dd', {}, value)];
  return element('div', { className: 'disk' },
    element('dl', { className: 'hashes' }, ...fact('File size', String(hashes.size)),
      ...fact('CRC32', hashes.crc32), ...fact('SHA-1', hashes.sha1),
      ...fact('Content hash', hashes.content, 'SHA-1 of the sector data by cylinder, head and sector ID: '
        + 'the same for the same disk under another header or record order')),
    element('button', {
      type: 'button',
      textContent: 'Download this disk (.d88)',
      onclick: async () => {
        const answer = await busy(`Copying image ${k}…`, () => ask({ verb: 'disk', id, offset: hashes.offset, size: hashes.size }));
        save(answer.bytes, splitName(containerName, k), 'application/octet-stream');
      },
    }));
}

// Why a file is not in the .zip, by its fate there.
const LEFT_OUT = {
  1: 'refused as d88 extract refuses it (not a plain file name)',
  2: 'a later file takes the same name, as d88 extract writes the last of them',
};

function imageSection(container, image, page) {
  const { id } = container;
  const leftOut = page.names.map((name, i) => i).filter((i) => page.fates[i] !== 0);
  const flat = image.fileSystem === 'flat';
  // Another file system: its own lines (its name, what is wrong with the
  const entries = flat ? 0 : image.folders.length + image.files.length;
  const lines = page.states.slice(page.states.length - entries);
  // disk) come before those of its folders and files; its name is a fact.
  const named = `image ${image.index}: ${image.fileSystem}`;
  const notesShown = flat ? page.notes : page.notes.concat(page.states
    .slice(0, -entries || undefined).filter((line) => line !== named));
  const heading = element('h3', {}, `Image ${image.index}: `, nameText(image.name));
  const medium = image.medium === null ? 'unknown' : image.medium;
  const shape = geometryText(image.geometry);
  const facts = element('dl', { className: 'facts' },
    element('dt', {}, 'Media byte'), element('dd', {}, `0x${hex2(image.mediaByte)}`),
    element('dt', {}, 'Medium'),
    element('dd', {}, medium + (image.mediumFromRecords ? ' (from the records)' : '')),
    element('dt', {}, 'Size field'), element('dd', {}, String(image.size)),
    element('dt', {}, 'Tracks recorded'), element('dd', {}, String(image.tracksRecorded)),
    element('dt', {}, 'Geometry'), element('dd', {}, shape),
    element('dt', {}, 'File system'), element('dd', {}, fileSystemText(image.fileSystem)));
  const notes = notesShown.length === 0 ? null
    : element('ul', { className: 'notes' }, ...notesShown.map((note) => element('li', {}, note)));
  const section = element('section', { className: 'image', id: `${container.anchor}-image-${image.index}` },
    heading, facts, diskPart(id, container.name, image.index, page.hashes), notes);
  if (image.medium === null) {
    section.append(element('p', { className: 'notes' },
      `Medium unknown (media byte 0x${hex2(image.mediaByte)}): files not read.`
      + (image.geometry === null ? '' : ` Its records show a ${shape} disk; this page reads `
        + 'the flat directory of 2DD and 2HD disks only.')));
    return section;
  }
  const rows = flat ? page.states.map((line, i) => fileRow(container, image, i, page))
    : entryRows(container, image, lines, page.writable, page.names);
  const table = element('table', {},
    element('caption', {}, `Files of image ${image.index}`),
    element('thead', {}, element('tr', {},
      ...[flat ? 'Name' : 'Path', 'Size', flat ? 'Location' : 'Date', 'State', 'Take', 'Change'].map((title) =>
        element('th', { scope: 'col' }, title)))),
    element('tbody', {}, ...rows));
  const zipName = `${container.name.replace(/\.[^.]*$/, '')}-image-${image.index}.zip`;
  const zip = element('button', {
    type: 'button',
    textContent: `Download the files of image ${image.index} (.zip)`,
    onclick: async () => {
      const answer = await busy('Making the .zip…', () => ask({ verb: 'zip', id, image: image.index }));
      if (answer.status === 0) save(answer.bytes, zipName, 'application/zip');
    },
  });
  const left = leftOut.length === 0 ? null : element('div', { className: 'left-out' },
    element('p', {}, 'Left out of the .zip:'),
    element('ul', {}, ...leftOut.map((i) => element('li', {},
      element('span', { className: 'file-name' }, page.names[i]), `: ${LEFT_OUT[page.fates[i]]}`))));
  const hint = !imageDamaged(image, page) ? null : element('p', { className: 'hint' },
    'What to do: keep the original disk and this image as they are; if you can, read the disk '
    + 'again (another drive, another dump) and compare. The files below hold what was readable.');
  const map = element('figure', {
    className: 'map', tabIndex: 0, role: 'region', ariaLabel: `Sector map of image ${image.index}`,
  });
  map.innerHTML = page.svg.replace(/^<\?xml[^>]*>\s*/, '');
  map.append(element('figcaption', {}, `Sector map of image ${image.index} `,
    element('button', {
      type: 'button',
      textContent: 'Download the map (SVG)',
      onclick: () => save(page.svg, `${zipName.replace(/\.zip$/, '')}-map.svg`, 'image/svg+xml'),
    })));
  const frame = element('div', {
    className: 'table-frame', tabIndex: 0, role: 'region', ariaLabel: `Files of image ${image.index}`,
  }, table);
  const listed = image.fileSystem !== null;  // else the notes say why nothing is
  const editable = flat || image.fileSystem === 'FAT12';
  section.append(...[hint, listed ? frame : null, listed ? zip : null, left, editable ? editPanel(container, image) : null, map]
    .filter((part) => part !== null));
  return section;
}

// Whether image (of page) has something wrong: a damaged file, a note.
const imageDamaged = (image, page) => image.files.some((file) => !file.intact) || page.notes.length > 0;

// Links to each image of survey, the damaged ones marked.
function imageIndex(anchor, survey, pages) {
  return element('nav', { className: 'image-index', ariaLabel: 'Images' }, element('ul', {},
    ...survey.images.map((image, k) => {
      const damaged = imageDamaged(image, pages[k]);
      return element('li', { className: damaged ? 'damaged' : 'intact' },
        element('a', { href: `#${anchor}-image-${k}` }, `Image ${k}: `, nameText(image.name)),
        damaged ? ' (damaged)' : '');
    })));
}

// The view of a container: its heading, a button that closes it; closing
// it, or dropping a file of the same name again, lets the worker forget it.
function containerView(name) {
  const list = document.getElementById('containers');
  const article = element('article', { className: 'container' });
  article.dataset.name = name;
  const close = () => {
    article.remove();
    if (article.dataset.id) ask({ verb: 'forget', id: Number(article.dataset.id) });
  };
  const earlier = [...list.children].find((view) => view.dataset.name === name);
  article.append(element('h2', {}, name, ' ',
    element('button', { type: 'button', className: 'close', textContent: 'Close', ariaLabel: `Close ${name}`, onclick: close })));
  if (earlier) earlier.replaceWith(article);
  else list.append(article);
  if (earlier && earlier.dataset.id) ask({ verb: 'forget', id: Number(earlier.dataset.id) });
  return article;
}

async function show(file, started) {
  const article = containerView(file.name);
  const problem = (text) => article.append(element('p', { className: 'problem' }, text));
  if (file.size > MOST_BYTES) {
    problem(`Refused: ${mebibytes(file.size)} is over the ${mebibytes(MOST_BYTES)} this page reads.`);
    return;
  }
  let bytes;
  try {
    bytes = await file.arrayBuffer();
  } catch (error) {
    problem(`Could not be read (${error.name}): a folder, or a file moved or changed since it was chosen.`);
    return;
  }
  containerId += 1;
  const id = containerId;
  article.dataset.id = id;
  const answer = await ask({ verb: 'survey', id, name: file.name, bytes }, [bytes]);
  if (answer.failure) {
    problem(`Could not be read: ${answer.failure}`);
    return;
  }
  if (answer.images <= 0) {
    problem('This is not a D88 container: it holds no disk image.');
    return;
  }
  const container = { id, name: file.name, anchor: `c${id}`, article, body: element('div') };
  // Stays while the view is redrawn after an edit.
  container.changed = element('div', { className: 'changed', hidden: true },
    element('p', {}, 'This container is changed in this page only: download it to keep the change.'),
    element('button', {
      type: 'button',
      textContent: 'Download changed container',
      onclick: async () => {
        const whole = await busy('Copying the container…', () => ask({ verb: 'whole', id }));
        save(whole.bytes, file.name, 'application/octet-stream');
      },
    }));
  article.append(container.changed, container.body);
  render(container, answer);
  article.querySelector('.timing').textContent = `Shown ${(performance.now() - started).toFixed(0)} ms after it was chosen.`;
}

// Draws what the worker answered of container in its view, anew.
function render(container, answer) {
  const survey = JSON.parse(answer.json);
  const body = element('div');
  // A disk of a common family is a disk, whether d88 reads its files or not.
  const known = survey.images.filter((image) => image.medium !== null
    || (image.geometry !== null && image.geometry.family !== null)).length;
  body.append(element('p', { className: answer.verdict === 0 ? 'summary' : 'summary unsound' }, answer.summary),
    element('p', { className: 'timing' }));
  if (known === 0) {
    body.append(element('p', { className: 'problem' }, 'This does not look like a D88 container: none of its '
      + 'images is a disk of a common kind (2D, 2DD, 2HD, 1.2M, 1.44M).'));
  }
  if (survey.images.length > 1) body.append(imageIndex(container.anchor, survey, answer.pages));
  body.append(element('button', {
    type: 'button',
    textContent: 'Download the survey (JSON)',
    onclick: () => save(answer.json, `${container.name}.json`, 'application/json'),
  }));
  survey.images.forEach((image, k) => body.append(imageSection(container, image, answer.pages[k])));
  container.body.replaceWith(body);
  container.body = body;
}

// Carries out request (change: add, remove, mkdir, rmdir) on image k of
// container, as d88 does; the view is drawn anew from the changed
// container, or its status line says why d88 refuses.
async function change(container, k, request, doing, done) {
  const answer = await busy(`${doing}…`, () => ask({ verb: 'edit', id: container.id, name: container.name, image: k, ...request },
    (request.hostFiles ?? []).map((file) => file.bytes).filter(Boolean)));
  const said = answer.failure ? `Could not be changed: ${answer.failure}` : answer.message;
  if (answer.status !== 0 || answer.failure) {
    editStatus(container, k, said, true);
    return;
  }
  container.changed.hidden = false;
  render(container, answer);
  editStatus(container, k, said ? `${done}\n${said}` : done, false);
}

// Puts text in the status line of image k's changes, marked as refused or
// not, and takes the focus there: the view around it was drawn anew.
function editStatus(container, k, text, refused) {
  const line = container.body.querySelector(`#${container.anchor}-image-${k} .edit-status`);
  line.textContent = text;
  line.classList.toggle('refused', refused);
  line.focus();
}

// Seconds since 1970 of the local wall time at ms: the module reads its
// times in UTC, and a DOS disk keeps local time.
const localSeconds = (ms) => Math.floor(ms / 1000) - new Date(ms).getTimezoneOffset() * 60;

// The files chosen to be added: their names, sizes, times and bytes (none
// for a file over what this page reads: the disk has no room for it).
async function hostFiles(files) {
  return Promise.all(files.map(async (file) => ({
    name: file.name,
    size: file.size,
    modified: localSeconds(file.lastModified),
    bytes: file.size > MOST_BYTES ? null : await file.arrayBuffer(),
  })));
}

// The controls that change image k of container: add files (FAT12: into a
// folder), make a folder; the rows' own buttons remove.
function editPanel(container, image) {
  const k = image.index;
  const fat = image.fileSystem === 'FAT12';
  const field = (label, input) => element('label', {}, label, ' ', input);
  const chosen = element('input', { type: 'file', multiple: true });
  const where = element('input', { type: 'text', spellcheck: false, autocomplete: 'off' });
  const folder = element('input', { type: 'text', spellcheck: false, autocomplete: 'off' });
  const add = element('button', {
    type: 'button',
    textContent: `Add to image ${k}`,
    onclick: async () => {
      const files = [...chosen.files];
      const typed = where.value.trim();
      // As d88 add takes --as: a name for one file, a folder for any.
      const refusal = files.length === 0 ? 'Choose the files to add first.'
        : !fat && typed !== '' && files.length > 1 ? 'A name on the disk is for one file: choose one, or leave the name empty.'
          : null;
      if (refusal) {
        editStatus(container, k, refusal, true);
        return;
      }
      let host;
      try {
        host = await hostFiles(files);
      } catch (error) {
        editStatus(container, k, `Could not be read (${error.name}): a folder, or a file moved or changed since it was chosen.`, true);
        return;
      }
      const path = !fat || typed === '' ? typed : `${typed.replace(/\/+$/, '')}/`;
      const names = files.map((file) => file.name).join(', ');
      await change(container, k, { change: 'add', items: host.map((file) => file.name), hostFiles: host, path },
        `Adding ${names}`, `Added ${names} to image ${k}.`);
    },
  });
  const makeFolder = !fat ? null : element('div', {}, field('New folder', folder), ' ', element('button', {
    type: 'button',
    textContent: 'Make folder',
    onclick: () => {
      const name = folder.value.trim();
      if (name === '') editStatus(container, k, 'Type the new folder\'s path first.', true);
      else change(container, k, { change: 'mkdir', items: [name], now: localSeconds(Date.now()) }, `Making ${name}`, `Made the folder ${name} on image ${k}.`);
    },
  }));
  return element('fieldset', { className: 'edit' },
    element('legend', {}, `Change image ${k}`),
    element('div', {}, field('Files to add', chosen), ' ',
      field(fat ? 'Into the folder (optional)' : 'Name on the disk (optional, one file)', where), ' ', add),
    makeFolder,
    element('p', { className: 'edit-status', role: 'status', ariaLive: 'polite', tabIndex: -1 }));
}

// The button that removes the file or folder (folder true) at item of
// image k of container, shown as shown.
function removeButton(container, k, item, shown, folder = false) {
  return element('button', {
    type: 'button',
    textContent: folder ? 'Remove folder' : 'Remove',
    ariaLabel: `Remove ${shown} from image ${k}`,
    onclick: () => change(container, k, { change: folder ? 'rmdir' : 'remove', items: [item] },
      `Removing ${shown}`, `Removed ${shown} from image ${k}.`),
  });
}

// Each file read and shown on its own: one that fails says so in its view.
function showAll(files) {
  const started = performance.now();
  return busy(`Reading ${files.length} file(s)…`, async () => {
    for (const file of files) await show(file, started);
  });
}

document.getElementById('limit').textContent = mebibytes(MOST_BYTES);
document.getElementById('choose').addEventListener('change', (event) => {
  const files = [...event.target.files];
  event.target.value = '';  // the same file may be chosen again
  showAll(files);
});
document.addEventListener('dragover', (event) => event.preventDefault());
document.addEventListener('drop', (event) => {
  event.preventDefault();
  showAll([...event.dataTransfer.files]);
});
