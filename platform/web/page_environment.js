// The page environment of a web view's script context: the document model
// built from the native HTML parser's node list, events, timers on the
// platform clock, location navigation, and the small window surface pages
// use. Evaluated once per context as a function of the native hooks and the
// global object; it returns the control object the web view drives.
(function (native, global) {
  'use strict';

  // Taken before any page script runs: the drawing markup reads the document
  // through these alone (below), so nothing a page redefines runs then.
  const ownProperty = Object.getOwnPropertyDescriptor;
  const hasOwn = Object.hasOwn;
  const apply = Reflect.apply;
  const substring = String.prototype.substring;

  const report = (e) => { try { native.reportError(e); } catch (_) { /* nothing more to do */ } };
  const lower = (s) => String(s).toLowerCase();

  // ---- events --------------------------------------------------------------------------------

  class Event {
    constructor(type, init) {
      init = init || {};
      this.type = String(type);
      this.bubbles = !!init.bubbles;
      this.cancelable = !!init.cancelable;
      this.target = null;
      this.currentTarget = null;
      this.defaultPrevented = false;
      this.stopped = false;
    }
    preventDefault() { if (this.cancelable) this.defaultPrevented = true; }
    stopPropagation() { this.stopped = true; }
    stopImmediatePropagation() { this.stopped = true; this.stoppedNow = true; }
  }

  const listeners = new WeakMap();  // target → Map(type → [{fn, capture}])
  let windowListeners = new Map();  // per document: a new page drops them

  function listenerMap(target, create) {
    if (target === global) return windowListeners;
    let map = listeners.get(target);
    if (!map && create) { map = new Map(); listeners.set(target, map); }
    return map;
  }
  const captureOf = (options) => (typeof options === 'object' && options !== null ? !!options.capture : !!options);

  const eventTargetMethods = {
    addEventListener(type, fn, options) {
      if (typeof fn !== 'function' && !(fn && typeof fn.handleEvent === 'function')) return;
      const map = listenerMap(this, true);
      const list = map.get(String(type)) || [];
      const capture = captureOf(options);
      if (!list.some((l) => l.fn === fn && l.capture === capture)) list.push({ fn, capture });
      map.set(String(type), list);
    },
    removeEventListener(type, fn, options) {
      const map = listenerMap(this, false);
      const list = map && map.get(String(type));
      if (!list) return;
      const capture = captureOf(options);
      const i = list.findIndex((l) => l.fn === fn && l.capture === capture);
      if (i >= 0) list.splice(i, 1);
    },
    dispatchEvent(event) {
      if (!(event instanceof Event)) throw new TypeError('dispatchEvent needs an Event');
      dispatch(this, event);
      return !event.defaultPrevented;
    },
  };

  function invoke(node, event, capturePhase) {
    event.currentTarget = node;
    const map = listenerMap(node, false);
    const list = map && map.get(event.type);
    if (list) {
      for (const l of list.slice()) {
        if (l.capture !== capturePhase) continue;
        try {
          if (typeof l.fn === 'function') l.fn.call(node, event); else l.fn.handleEvent(event);
        } catch (e) { report(e); }
        if (event.stoppedNow) return;
      }
    }
    if (!capturePhase) {
      const handler = handlerOf(node, event.type);
      if (handler) { try { handler.call(node, event); } catch (e) { report(e); } }
    }
  }

  // An on<type> property, else an element's on<type> attribute compiled.
  function handlerOf(node, type) {
    const property = node['on' + type];
    if (typeof property === 'function') return property;
    if (node.nodeType !== 1) return null;
    const code = node.getAttribute('on' + type);
    if (code === null) return null;
    try { return new Function('event', code); } catch (e) { report(e); return null; }
  }

  function dispatch(target, event) {
    event.target = target;
    const path = [];
    for (let n = target; n; n = n.parentNode) path.push(n);
    if (target !== global && path[path.length - 1] === current) path.push(global);
    for (let i = path.length - 1; i > 0 && !event.stopped; i--) invoke(path[i], event, true);
    if (!event.stopped) invoke(target, event, true);
    if (!event.stopped) invoke(target, event, false);
    if (event.bubbles) for (let i = 1; i < path.length && !event.stopped; i++) invoke(path[i], event, false);
    event.currentTarget = null;
  }

  // ---- nodes ---------------------------------------------------------------------------------

  // Pre-order walk of the descendants (without recursion: pages may nest deeply).
  function walk(root, visit) {
    const stack = root.childNodes.slice().reverse();
    while (stack.length) {
      const n = stack.pop();
      if (visit(n) === false) return;
      for (let i = n.childNodes.length - 1; i >= 0; i--) stack.push(n.childNodes[i]);
    }
  }

  function textOf(root) {
    if (root.nodeType === 3 || root.nodeType === 8) return root.data;
    let text = '';
    walk(root, (n) => { if (n.nodeType === 3) text += n.data; });
    return text;
  }

  // The tree itself (parents, children, names, attributes, text) is kept in
  // private fields: page script can read it through the usual properties but
  // can neither redefine nor proxy it, and drawing reads it through the
  // accessors the classes hand out here.
  let isNode, childrenOf, setParent, clearChildren;

  class Node {
    #parent = null;
    #children = [];
    static {
      isNode = (v) => typeof v === 'object' && v !== null && #children in v;
      childrenOf = (n) => n.#children;
      setParent = (n, parent) => { n.#parent = parent; };
      clearChildren = (n) => {
        for (const c of n.#children) c.#parent = null;
        n.#children = [];
      };
    }
    constructor(doc, type, name) {
      this.ownerDocument = doc;
      this.nodeType = type;
      this.nodeName = name;
    }
    get parentNode() { return this.#parent; }
    get childNodes() { return this.#children; }
    get firstChild() { return this.childNodes[0] || null; }
    get isConnected() { let n = this; while (n.parentNode) n = n.parentNode; return n === current; }
    contains(other) { for (let n = other; n; n = n.parentNode) if (n === this) return true; return false; }
    get textContent() { return textOf(this); }
    set textContent(value) {
      clearChildren(this);
      const text = value === null || value === undefined ? '' : String(value);
      if (text !== '') this.appendChild(new Text(this.ownerDocument || this, text));
    }
    appendChild(child) { return this.insertBefore(child, null); }
    insertBefore(child, reference) {
      if (!isNode(child) || child.nodeType === 9) throw new TypeError('insertBefore needs a node');
      if (child.contains(this)) throw new Error('HierarchyRequestError: a node cannot contain itself');
      if (reference !== null && reference !== undefined && reference.parentNode !== this)
        throw new Error('NotFoundError: the reference node is not a child');
      if (child.parentNode) child.parentNode.removeChild(child);
      const index = reference ? this.childNodes.indexOf(reference) : this.childNodes.length;
      this.childNodes.splice(index, 0, child);
      child.#parent = this;
      adopt(child, this.ownerDocument || this);
      if (this.isConnected) inserted(child);
      return child;
    }
    removeChild(child) {
      const i = this.childNodes.indexOf(child);
      if (i < 0) throw new Error('NotFoundError: not a child of this node');
      this.childNodes.splice(i, 1);
      child.#parent = null;
      return child;
    }
  }
  Object.assign(Node.prototype, eventTargetMethods);

  function adopt(node, doc) {
    node.ownerDocument = doc;
    walk(node, (n) => { n.ownerDocument = doc; });
  }

  // Frames inserted into the document load (they are offered to the web view).
  function inserted(node) {
    const check = (n) => { if (n.nodeType === 1 && n.localName === 'iframe') loadFrame(n.getAttribute('src')); };
    check(node);
    walk(node, check);
  }
  function loadFrame(src) {
    if (src !== null && String(src).trim() !== '') native.navigate(String(src).trim(), 'frame');
  }

  let textOfTextNode;

  class Text extends Node {
    #data;
    static { textOfTextNode = (v) => (isNode(v) && #data in v ? v.#data : null); }
    constructor(doc, data) { super(doc, 3, '#text'); this.#data = String(data); }
    get data() { return this.#data; }
    set data(v) { this.#data = String(v); }
    get nodeValue() { return this.#data; }
    set nodeValue(v) { this.#data = String(v); }
    get textContent() { return this.#data; }
    set textContent(v) { this.#data = v === null || v === undefined ? '' : String(v); }
  }

  class Comment extends Node {
    #data;
    constructor(doc, data) { super(doc, 8, '#comment'); this.#data = String(data); }
    get data() { return this.#data; }
    set data(v) { this.#data = String(v); }
    get nodeValue() { return this.#data; }
  }

  // ---- elements ------------------------------------------------------------------------------

  function parseStyle(text) {
    const declarations = new Map();
    for (const part of String(text || '').split(';')) {
      const colon = part.indexOf(':');
      if (colon < 0) continue;
      const name = part.slice(0, colon).trim().toLowerCase();
      if (name) declarations.set(name, part.slice(colon + 1).trim());
    }
    return declarations;
  }
  const cssName = (property) => property.replace(/[A-Z]/g, (m) => '-' + m.toLowerCase());

  function setDeclaration(element, name, value) {
    const declarations = parseStyle(element.getAttribute('style'));
    const text = value === null || value === undefined ? '' : String(value);
    if (text === '') declarations.delete(name); else declarations.set(name, text);
    element.setAttribute('style', [...declarations].map(([k, v]) => k + ': ' + v + ';').join(' '));
  }

  // The style property bag, read from and written to the style attribute.
  function styleOf(element) {
    const css = () => element.getAttribute('style') || '';
    return new Proxy({}, {
      get(_, property) {
        if (typeof property !== 'string') return undefined;
        if (property === 'cssText') return css();
        if (property === 'toString') return css;
        return parseStyle(css()).get(cssName(property)) || '';
      },
      set(_, property, value) {
        if (typeof property !== 'string') return true;
        if (property === 'cssText') element.setAttribute('style', String(value));
        else setDeclaration(element, cssName(property), value);
        return true;
      },
    });
  }

  function classListOf(element) {
    const tokens = () => (element.getAttribute('class') || '').split(/\s+/).filter((t) => t);
    const write = (list) => element.setAttribute('class', list.join(' '));
    return {
      add(...names) { const list = tokens(); for (const n of names) if (!list.includes(String(n))) list.push(String(n)); write(list); },
      remove(...names) { write(tokens().filter((t) => !names.map(String).includes(t))); },
      contains(name) { return tokens().includes(String(name)); },
      toggle(name, force) {
        const has = tokens().includes(String(name));
        const want = force === undefined ? !has : !!force;
        if (want && !has) this.add(name);
        if (!want && has) this.remove(name);
        return want;
      },
    };
  }

  const resolved = (text) => {
    if (text === null) return '';
    const url = native.resolveURL(text);
    return url ? url.href : text;
  };

  let isElement, nameOf, attributesOf;

  class Element extends Node {
    #name;
    #attrs = [];  // name, value, name, value, …
    static {
      isElement = (v) => isNode(v) && #attrs in v;
      nameOf = (e) => e.#name;
      attributesOf = (e) => e.#attrs;
    }
    constructor(doc, localName) {
      super(doc, 1, localName.toUpperCase());
      this.#name = localName;
    }
    get localName() { return this.#name; }
    get tagName() { return this.nodeName; }
    get attributes() {
      const list = [];
      for (let i = 0; i + 1 < this.#attrs.length; i += 2) list.push({ name: this.#attrs[i], value: this.#attrs[i + 1] });
      return list;
    }
    getAttribute(name) {
      const key = lower(name);
      for (let i = 0; i + 1 < this.#attrs.length; i += 2) if (this.#attrs[i] === key) return this.#attrs[i + 1];
      return null;
    }
    hasAttribute(name) { return this.getAttribute(name) !== null; }
    setAttribute(name, value) {
      name = lower(name);
      value = String(value);
      let i = 0;
      while (i + 1 < this.#attrs.length && this.#attrs[i] !== name) i += 2;
      if (i + 1 < this.#attrs.length) this.#attrs[i + 1] = value; else this.#attrs.push(name, value);
      if (name === 'src' && this.localName === 'iframe' && this.isConnected) loadFrame(value);
    }
    removeAttribute(name) {
      const key = lower(name);
      const kept = [];
      for (let i = 0; i + 1 < this.#attrs.length; i += 2) if (this.#attrs[i] !== key) kept.push(this.#attrs[i], this.#attrs[i + 1]);
      this.#attrs = kept;
    }
    get id() { return this.getAttribute('id') || ''; }
    set id(v) { this.setAttribute('id', v); }
    get className() { return this.getAttribute('class') || ''; }
    set className(v) { this.setAttribute('class', v); }
    get classList() { return classListOf(this); }
    get style() { return styleOf(this); }
    set style(v) { this.setAttribute('style', v); }
    get src() { return resolved(this.getAttribute('src')); }
    set src(v) { this.setAttribute('src', v); }
    get href() { return resolved(this.getAttribute('href')); }
    set href(v) { this.setAttribute('href', v); }
    get children() { return this.childNodes.filter((n) => n.nodeType === 1); }
    get innerText() { return this.textContent; }
    set innerText(v) { this.textContent = v; }
    get innerHTML() { return serializeChildren(this); }
    set innerHTML(html) {
      clearChildren(this);
      buildNodes(this.ownerDocument, native.parseHTML(String(html), this.localName), this);
      if (this.isConnected) for (const c of this.childNodes) inserted(c);
    }
    click() {
      const event = new Event('click', { bubbles: true, cancelable: true });
      dispatch(this, event);
      if (event.defaultPrevented) return;
      for (let n = this; n; n = n.parentNode) {
        if (n.nodeType === 1 && n.localName === 'a' && n.getAttribute('href') !== null) {
          native.navigate(n.getAttribute('href'), 'link');
          return;
        }
      }
    }
    getElementsByTagName(name) { return byTagName(this, name); }
    getElementsByClassName(names) { return byClassName(this, names); }
    querySelector(selector) { return select(this, selector, true)[0] || null; }
    querySelectorAll(selector) { return select(this, selector, false); }
  }

  function byTagName(root, name) {
    const want = lower(name);
    const found = [];
    walk(root, (n) => { if (n.nodeType === 1 && (want === '*' || n.localName === want)) found.push(n); });
    return found;
  }

  function byClassName(root, names) {
    const wanted = String(names).split(/\s+/).filter((t) => t);
    const found = [];
    walk(root, (n) => {
      if (n.nodeType !== 1 || !wanted.length) return;
      const have = (n.getAttribute('class') || '').split(/\s+/);
      if (wanted.every((w) => have.includes(w))) found.push(n);
    });
    return found;
  }

  // Selectors: groups of compound selectors made of a tag, #id and .class parts.
  function parseSelector(text) {
    return String(text).split(',').map((part) => {
      const m = /^\s*([a-zA-Z][\w-]*|\*)?((?:[#.][\w-]+)*)\s*$/.exec(part);
      if (!m || (!m[1] && !m[2])) throw new SyntaxError('unsupported selector: ' + text);
      const ids = [], classes = [];
      for (const piece of m[2].match(/[#.][\w-]+/g) || []) (piece[0] === '#' ? ids : classes).push(piece.slice(1));
      return { tag: m[1] && m[1] !== '*' ? lower(m[1]) : null, ids, classes };
    });
  }

  function select(root, selector, firstOnly) {
    const groups = parseSelector(selector);
    const found = [];
    walk(root, (n) => {
      if (n.nodeType !== 1) return;
      const classes = (n.getAttribute('class') || '').split(/\s+/);
      const id = n.getAttribute('id');
      if (groups.some((g) => (!g.tag || g.tag === n.localName) && g.ids.every((i) => i === id) &&
                             g.classes.every((c) => classes.includes(c)))) {
        found.push(n);
        if (firstOnly) return false;
      }
    });
    return found;
  }

  // ---- serialisation -------------------------------------------------------------------------

  const VOID_ELEMENTS = new Set(['area', 'base', 'br', 'col', 'embed', 'hr', 'img', 'input', 'link', 'meta',
                                 'param', 'source', 'track', 'wbr']);
  const RAW_TEXT = new Set(['script', 'style', 'xmp', 'iframe', 'noembed', 'noframes', 'plaintext']);
  const escapeText = (s) => s.replace(/&/g, '&amp;').replace(/\u00a0/g, '&nbsp;').replace(/</g, '&lt;').replace(/>/g, '&gt;');
  const escapeAttribute = (s) => s.replace(/&/g, '&amp;').replace(/\u00a0/g, '&nbsp;').replace(/"/g, '&quot;');

  function serializeChildren(root) {
    let out = '';
    const stack = [{ node: root, index: 0 }];
    while (stack.length) {
      const top = stack[stack.length - 1];
      if (top.index >= top.node.childNodes.length) {
        stack.pop();
        if (stack.length) out += '</' + top.node.localName + '>';
        continue;
      }
      const n = top.node.childNodes[top.index++];
      if (n.nodeType === 3) {
        out += top.node.nodeType === 1 && RAW_TEXT.has(top.node.localName) ? n.data : escapeText(n.data);
      } else if (n.nodeType === 8) {
        out += '<!--' + n.data + '-->';
      } else if (n.nodeType === 1) {
        out += '<' + n.localName;
        const attrs = attributesOf(n);
        for (let k = 0; k + 1 < attrs.length; k += 2) out += ' ' + attrs[k] + '="' + escapeAttribute(attrs[k + 1]) + '"';
        out += '>';
        if (!VOID_ELEMENTS.has(n.localName)) stack.push({ node: n, index: 0 });
      }
    }
    return out;
  }

  // ---- markup for drawing --------------------------------------------------------------------

  // The document as markup for drawing: { markup, bound }. `bound` is null
  // within the bounds, else the first one passed: 'elements', 'reads' (of
  // nodes and attributes) or 'characters' (of markup). Past 'elements' or
  // 'characters' the walk goes on (within the reads and a second allowance
  // of characters) writing only the elements named in `background` (names →
  // 1), with their attributes and raw text: what the page's background is
  // drawn from, wherever it stands.
  // Nothing a page can define runs meanwhile: the tree is read from the
  // private fields, list slots through the descriptors taken above, a value
  // is used only when it is a string or a node of ours, and the walk keeps
  // its own stack of fresh objects. Scripts and comments are left out, and
  // so are elements deeper than `maxDepth` (bounded work, as the parser's).
  const DRAWN_VOID = { __proto__: null, area: 1, base: 1, br: 1, col: 1, embed: 1, hr: 1, img: 1, input: 1, link: 1,
                       meta: 1, param: 1, source: 1, track: 1, wbr: 1 };
  const DRAWN_RAW = { __proto__: null, style: 1, xmp: 1, iframe: 1, noembed: 1, noframes: 1, plaintext: 1 };

  function slotOf(list, index) {
    const d = ownProperty(list, index);
    return d !== undefined && hasOwn(d, 'value') ? d.value : undefined;
  }

  // Tag and attribute names the markup can carry as they are.
  function drawableName(name) {
    if (typeof name !== 'string' || name.length === 0 || name.length > 64) return false;
    for (let i = 0; i < name.length; i++) {
      const c = name[i];
      if ((c >= 'a' && c <= 'z') || (i > 0 && ((c >= '0' && c <= '9') || c === '-' || c === '_' || c === ':' || c === '.')))
        continue;
      return false;
    }
    return true;
  }

  // Text escaped for markup (`attribute`: inside double quotes); raw text
  // (a style sheet) only has its "</" broken so that it cannot end its element.
  function markupText(s, mode) {
    let out = '';
    let from = 0;
    for (let i = 0; i < s.length; i++) {
      const c = s[i];
      let replacement = null;
      if (mode === 'raw') {
        if (c === '/' && i > 0 && s[i - 1] === '<') replacement = '\\/';
      } else if (c === '&') replacement = '&amp;';
      else if (c === '\u00a0') replacement = '&nbsp;';
      else if (c === '"' && mode === 'attribute') replacement = '&quot;';
      else if ((c === '<' || c === '>') && mode === 'text') replacement = c === '<' ? '&lt;' : '&gt;';
      if (replacement === null) continue;
      out += apply(substring, s, [from, i]) + replacement;
      from = i + 1;
    }
    return from === 0 ? s : out + apply(substring, s, [from, s.length]);
  }

  function markupForDrawing(doc, maxElements, maxReads, maxCharacters, maxDepth, background) {
    let out = '';
    let elements = 0;
    let reads = 0;
    let bound = null;
    let limit = maxCharacters;
    let frame = { list: childrenOf(doc), index: 0, name: null, raw: false, depth: 0, up: null };
    // The node at hand passed a bound: the elements open are closed, and the
    // node is taken again past the bound.
    const pass = (which) => {
      bound = which;
      for (let f = frame; f !== null; f = f.up) {
        if (f.name !== null) out += '</' + f.name + '>';
        f.name = null;
        f.raw = false;
      }
      limit = out.length + maxCharacters;
      frame.index -= 1;
    };
    nodes: while (frame !== null) {
      if (frame.index >= frame.list.length) {
        if (frame.name !== null) out += '</' + frame.name + '>';
        frame = frame.up;
        continue;
      }
      if (++reads > maxReads) {
        if (bound === null) pass('reads');
        break;
      }
      const node = slotOf(frame.list, frame.index);
      frame.index += 1;
      const text = textOfTextNode(node);
      if (typeof text === 'string') {
        if (bound !== null && !frame.raw) continue;
        // The length is looked at before the text is escaped, which only lengthens it.
        const written = out.length + text.length > limit ? null : markupText(text, frame.raw ? 'raw' : 'text');
        if (written === null || out.length + written.length > limit) {
          if (bound !== null) break;
          pass('characters');
          continue;
        }
        out += written;
        continue;
      }
      if (!isElement(node)) continue;
      if (bound === null && ++elements > maxElements) {
        pass('elements');
        continue;
      }
      const name = nameOf(node);
      if (name === 'script' || frame.depth >= maxDepth) continue;
      // An element whose name markup cannot carry is left out, its content kept.
      const tagged = drawableName(name) && (bound === null || background[name] === 1);
      if (tagged) {
        let tag = '<' + name;
        const attrs = attributesOf(node);
        for (let k = 0; k + 1 < attrs.length && tag !== null; k += 2) {
          if (++reads > maxReads) {
            if (bound === null) pass('reads');
            break nodes;
          }
          const attribute = slotOf(attrs, k);
          const value = slotOf(attrs, k + 1);
          if (!drawableName(attribute) || typeof value !== 'string') continue;
          tag = out.length + tag.length + value.length > limit
            ? null : tag + ' ' + attribute + '="' + markupText(value, 'attribute') + '"';
        }
        if (tag === null || out.length + tag.length + 1 > limit) {
          if (bound !== null) break;
          pass('characters');
          continue;
        }
        out += tag + '>';
        if (DRAWN_VOID[name] === 1) continue;
      }
      frame = { list: childrenOf(node), index: 0, name: tagged ? name : null,
                raw: tagged ? DRAWN_RAW[name] === 1 : frame.raw, depth: frame.depth + 1, up: frame };
    }
    return { __proto__: null, markup: out, bound };
  }

  // ---- documents -----------------------------------------------------------------------------

  // Nodes from the parser's list: [1, parent, tag, [name, value, …]], [3, parent, text]
  // or [8, parent, text]; parent -1 is `root`.
  function buildNodes(doc, records, root) {
    const made = new Array(records.length);
    for (let i = 0; i < records.length; i++) {
      const r = records[i];
      let n;
      if (r[0] === 1) {
        n = new Element(doc, r[2]);
        const attrs = attributesOf(n);
        for (let k = 0; k + 1 < r[3].length; k += 2) attrs.push(r[3][k], r[3][k + 1]);
      } else {
        n = r[0] === 3 ? new Text(doc, r[2]) : new Comment(doc, r[2]);
      }
      const parent = r[1] < 0 ? root : made[r[1]];
      setParent(n, parent);
      childrenOf(parent).push(n);
      made[i] = n;
    }
    return made;
  }

  class Location {
    constructor(url) { this.url = url; }
    get href() { return this.url.href; }
    set href(v) { navigate(v); }
    get protocol() { return this.url.protocol; }
    get host() { return this.url.host; }
    get hostname() { return this.url.hostname; }
    get pathname() { return this.url.pathname; }
    get search() { return this.url.search; }
    get hash() { return this.url.hash; }
    set hash(v) {
      let fragment = String(v);
      if (fragment[0] !== '#') fragment = '#' + fragment;
      const cut = this.url.href.indexOf('#');
      navigate((cut < 0 ? this.url.href : this.url.href.slice(0, cut)) + fragment);
    }
    assign(v) { navigate(v); }
    replace(v) { navigate(v); }
    reload() { native.navigate(this.url.href, 'reload'); }
    toString() { return this.url.href; }
  }
  const navigate = (v) => native.navigate(String(v), 'script');

  class Document extends Node {
    constructor(url) {
      super(null, 9, '#document');
      this.locationObject = new Location(url);
      this.state = 'loading';
    }
    get URL() { return this.locationObject.href; }
    get location() { return this.locationObject; }
    set location(v) { navigate(v); }
    get readyState() { return this.state; }
    get documentElement() { return this.childNodes.find((n) => n.nodeType === 1) || null; }
    part(name) {
      const root = this.documentElement;
      return (root && root.childNodes.find((n) => n.nodeType === 1 && n.localName === name)) || null;
    }
    get head() { return this.part('head'); }
    get body() { return this.part('body'); }
    get title() {
      const title = byTagName(this, 'title')[0];
      return title ? title.textContent.replace(/[\t\n\f\r ]+/g, ' ').trim() : '';
    }
    set title(v) {
      let title = byTagName(this, 'title')[0];
      if (!title && this.head) title = this.head.appendChild(this.createElement('title'));
      if (title) title.textContent = v;
    }
    createElement(name) { return new Element(this, lower(name)); }
    createTextNode(text) { return new Text(this, text); }
    getElementById(id) {
      let found = null;
      walk(this, (n) => { if (n.nodeType === 1 && n.getAttribute('id') === String(id)) { found = n; return false; } });
      return found;
    }
    getElementsByTagName(name) { return byTagName(this, name); }
    getElementsByClassName(names) { return byClassName(this, names); }
    querySelector(selector) { return select(this, selector, true)[0] || null; }
    querySelectorAll(selector) { return select(this, selector, false); }
  }

  let current = null;

  // ---- timers --------------------------------------------------------------------------------

  const timers = new Map();
  let nextTimerId = 1;
  let timerNesting = 0;

  function addTimer(code, ms, args, repeat) {
    const id = nextTimerId++;
    ms = Number(ms);
    if (!(ms >= 0)) ms = 0;
    if (ms > 2147483647) ms = 2147483647;
    const nesting = timerNesting + 1;
    // As browsers do: deeply nested timers wait at least 4 ms, so a page
    // re-arming a zero-delay timer forever cannot starve the run loop.
    if (nesting > 5 && ms < 4) ms = 4;
    timers.set(id, { code, args, repeat, ms, nesting });
    native.setTimer(id, ms);
    return id;
  }
  function clearTimer(id) {
    id = Number(id);
    if (timers.delete(id)) native.clearTimer(id);
  }

  // ---- window --------------------------------------------------------------------------------

  // An argument reads as a console shows it: an error as "<name>: <message>"
  // (its own properties, whatever its toString says), another object as
  // JSON, the rest as text. A console call never throws into the page: an
  // argument none of these can read (a getter or toString that throws) reads
  // as its tag ("[object Error]"), else its type. Nothing the page redefines
  // is called but its own getters and conversions.
  const objectTag = Object.prototype.toString;
  const errorText = Error.prototype.toString;
  const toJSON = JSON.stringify;
  const toText = String;
  function consoleText(a) {
    let tag = null;
    if ((typeof a === 'object' && a !== null) || typeof a === 'function') {
      try { tag = apply(objectTag, a, []); } catch (_) { /* a revoked proxy */ }
      if (typeof a === 'object') {
        try { return tag === '[object Error]' ? apply(errorText, a, []) : toJSON(a); } catch (_) { /* below */ }
      }
    }
    try { return toText(a); } catch (_) { return tag !== null ? tag : typeof a; }
  }
  function consoleLine(level) {
    return (...args) => {
      let line = '';
      for (let i = 0; i < args.length; i++) {
        const part = consoleText(args[i]);
        line += (i > 0 ? ' ' : '') + (part === undefined ? '' : part);
      }
      native.log(level, line);
    };
  }

  const define = (name, value) => Object.defineProperty(global, name, { value, writable: true, configurable: true });
  define('window', global);
  define('self', global);
  define('Event', Event);
  Object.defineProperty(global, 'document', { get: () => current, configurable: true });
  Object.defineProperty(global, 'location', { get: () => current.location, set: navigate, configurable: true });
  Object.defineProperty(global, 'innerWidth', { get: () => native.viewport()[0], configurable: true });
  Object.defineProperty(global, 'innerHeight', { get: () => native.viewport()[1], configurable: true });
  define('devicePixelRatio', native.devicePixelRatio);
  define('navigator', Object.freeze({ get userAgent() { return native.userAgent(); } }));
  define('console', {
    log: consoleLine('log'), info: consoleLine('info'), warn: consoleLine('warn'), error: consoleLine('error'),
    debug: consoleLine('log'),
  });
  define('alert', (message) => { native.log('alert', String(message)); });
  define('confirm', (message) => { native.log('confirm', String(message)); return false; });
  define('prompt', (message) => { native.log('prompt', String(message)); return null; });
  define('open', () => null);
  define('setTimeout', (code, ms, ...args) => addTimer(code, ms, args, false));
  define('setInterval', (code, ms, ...args) => addTimer(code, ms, args, true));
  define('clearTimeout', clearTimer);
  define('clearInterval', clearTimer);
  for (const name of Object.keys(eventTargetMethods)) define(name, eventTargetMethods[name].bind(global));
  global.onload = null;

  // ---- what the web view drives --------------------------------------------------------------

  return {
    // Replaces the document; answers its scripts in order ({src, type, text}).
    commit(url, records) {
      timers.clear();
      windowListeners = new Map();
      global.onload = null;
      const doc = new Document(url);
      const made = buildNodes(doc, records, doc);
      current = doc;
      const body = doc.body;
      const onload = body && body.getAttribute('onload');
      if (onload !== null && onload !== undefined) {
        try { global.onload = new Function('event', onload); } catch (e) { report(e); }
      }
      const scripts = [];
      for (const n of made) {
        if (n.nodeType !== 1) continue;
        if (n.localName === 'iframe') loadFrame(n.getAttribute('src'));
        if (n.localName === 'script')
          scripts.push({ src: n.getAttribute('src'), type: n.getAttribute('type'), text: n.textContent });
      }
      return scripts;
    },
    interactive() {
      current.state = 'interactive';
      dispatch(current, new Event('readystatechange'));
      dispatch(current, new Event('DOMContentLoaded', { bubbles: true }));
    },
    complete() {
      current.state = 'complete';
      dispatch(current, new Event('readystatechange'));
      dispatch(global, new Event('load'));
    },
    // The document's meta refresh: {delay, url}; url null for the document itself.
    metaRefresh() {
      const meta = byTagName(current, 'meta').find((m) => lower(m.getAttribute('http-equiv') || '') === 'refresh');
      if (!meta) return null;
      const m = /^\s*(\d+(?:\.\d*)?)\s*(?:[;,]\s*(?:url\s*=\s*)?(.*))?$/i.exec(meta.getAttribute('content') || '');
      if (!m) return null;
      const url = (m[2] || '').trim().replace(/^(['"])(.*)\1$/, '$2');
      return { delay: Number(m[1]), url: url || null };
    },
    setURL(url) { current.locationObject.url = url; },
    // The current document for drawing: { markup, bound } (markupForDrawing),
    // past a bound with the elements named in `background` alone.
    drawingMarkup(maxElements, maxReads, maxCharacters, maxDepth, ...background) {
      const named = { __proto__: null };
      for (let i = 0; i < background.length; i++) named[background[i]] = 1;
      return markupForDrawing(current, maxElements, maxReads, maxCharacters, maxDepth, named);
    },
    fireTimer(id) {
      const timer = timers.get(id);
      if (!timer) return;
      if (!timer.repeat) timers.delete(id);
      const saved = timerNesting;
      timerNesting = timer.nesting;
      try {
        if (typeof timer.code === 'function') timer.code.apply(global, timer.args);
        else (0, eval)(String(timer.code));
      } catch (e) {
        report(e);
      } finally {
        timerNesting = saved;
      }
      if (timer.repeat && timers.get(id) === timer) {
        if (++timer.nesting > 5 && timer.ms < 4) timer.ms = 4;
        native.setTimer(id, timer.ms);
      }
    },
    clickElement(id) {
      const element = current.getElementById(id);
      if (!element) return false;
      element.click();
      return true;
    },
    clickHref(href) {
      const anchor = byTagName(current, 'a').find((a) => a.getAttribute('href') === href);
      if (anchor) anchor.click(); else native.navigate(href, 'link');
      return !!anchor;
    },
  };
})
