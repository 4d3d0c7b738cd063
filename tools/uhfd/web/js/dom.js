// Builds elements from text only: every string becomes a text node, so nothing a reader or a tag
// sends is ever parsed as markup. (The page has no innerHTML anywhere.)
export function el(tag, attrs = {}, ...children) {
  const node = document.createElement(tag);
  for (const [k, v] of Object.entries(attrs)) {
    if (v === undefined || v === null || v === false) continue;
    if (k === 'class') node.className = v;
    else if (k === 'dataset') Object.assign(node.dataset, v);
    else if (k.startsWith('on')) node.addEventListener(k.slice(2), v);
    else node.setAttribute(k, v === true ? '' : String(v));
  }
  append(node, ...children);
  return node;
}

export function append(node, ...children) {
  for (const c of children.flat()) {
    if (c === undefined || c === null || c === false) continue;
    node.append(c instanceof Node ? c : document.createTextNode(String(c)));
  }
  return node;
}

export function setText(node, value) {
  node.textContent = value === undefined || value === null ? '' : String(value);
}

export function clear(node) {
  while (node.firstChild) node.firstChild.remove();
}

export const $ = (id) => document.getElementById(id);

// The printable ASCII a byte string spells, or '' when any byte is not printable.
export function hexText(hex) {
  if (!hex || hex.length % 2) return '';
  let out = '';
  for (let i = 0; i < hex.length; i += 2) {
    const b = parseInt(hex.slice(i, i + 2), 16);
    if (b < 0x20 || b > 0x7e) return '';
    out += String.fromCharCode(b);
  }
  return out;
}

export function time(iso) {
  if (!iso) return '';
  const d = new Date(iso);
  return isNaN(d) ? iso : d.toLocaleTimeString([], { hour12: false }) + '.' + String(d.getMilliseconds()).padStart(3, '0');
}

// The printable ASCII a byte string starts with (a model name in device information), if 3 or more.
export function hexPrefixText(hex) {
  let out = '';
  for (let i = 0; hex && i + 1 < hex.length; i += 2) {
    const b = parseInt(hex.slice(i, i + 2), 16);
    if (b < 0x20 || b > 0x7e) break;
    out += String.fromCharCode(b);
  }
  return out.length >= 3 ? out : '';
}
