// The displays drawn from their numbers: plots, images and polar models on
// a canvas, laid out and coloured as the host's own pictures (the files of
// `zvhost run --out`, the downloads), at the size the page shows them and
// sharp at any pixel ratio. Plots zoom (wheel) and pan (drag) and say where
// the cursor is in mils. Nothing from the station becomes markup.
'use strict';

const zvCanvas = (() => {
  // The host's layout of a plot: the data area inside these margins.
  const PLOT = {left: 70, top: 40, right: 20, bottom: 50};
  const PLOT_ASPECT = 600 / 800;
  const POLAR_ASPECT = 500 / 1200;
  const IMAGE_MIN_SIDE = 64;
  const SLICES_DRAWN = 400;  // a model of more slices draws every n-th

  // "#AARRGGBB"; an alpha of 0 is opaque, as colours given without one.
  function colour(text, fallback = [0, 0, 0, 1]) {
    if (typeof text !== 'string' || !/^#[0-9A-Fa-f]{8}$/.test(text)) return fallback;
    const v = parseInt(text.slice(1), 16);
    const a = Math.floor(v / 0x1000000) & 0xFF;
    return [(v >> 16) & 0xFF, (v >> 8) & 0xFF, v & 0xFF, a === 0 ? 1 : a / 255];
  }
  const css = (c) => `rgba(${c[0]},${c[1]},${c[2]},${c[3]})`;
  const finite = (v) => typeof v === 'number' && Number.isFinite(v);
  const clamp = (v, lo, hi) => Math.min(hi, Math.max(lo, v));

  // One axis of the world: the given range when usable, else the content's
  // with a margin, else one unit around whatever centre is known.
  function saneRange(given0, givenSize, c0, c1, have) {
    if (finite(given0) && finite(givenSize) && givenSize > 1e-9 && givenSize < 1e30 && Math.abs(given0) < 1e30)
      return [given0, givenSize];
    if (have && c1 - c0 > 1e-9) {
      const pad = (c1 - c0) * 0.05;
      return [c0 - pad, c1 - c0 + 2 * pad];
    }
    const centre = have ? c0 : finite(given0) && Math.abs(given0) < 1e30 ? given0 : 0;
    return [centre - 0.5, 1];
  }

  function bounds() {
    return {x0: Infinity, y0: Infinity, x1: -Infinity, y1: -Infinity,
      add(x, y) {
        this.x0 = Math.min(this.x0, x); this.y0 = Math.min(this.y0, y);
        this.x1 = Math.max(this.x1, x); this.y1 = Math.max(this.y1, y);
      },
      valid() { return this.x0 <= this.x1 && this.y0 <= this.y1; }};
  }

  // World to pixels, one scale on both axes (mils on both), y up, the world
  // centred in the data area.
  function makeView(area, wx, ww, wy, wh) {
    let scale = Math.min(area.width / ww, area.height / wh);
    if (!finite(scale) || scale <= 0) scale = 1;
    const v = {...area, wx, ww, wy, wh, scale,
      offX: (area.width - ww * scale) / 2, offY: (area.height - wh * scale) / 2};
    v.X = (x) => v.left + v.offX + (x - v.wx) * v.scale;
    v.Y = (y) => v.top + v.height - v.offY - (y - v.wy) * v.scale;
    v.worldX = (px) => (px - v.left - v.offX) / v.scale + v.wx;
    v.worldY = (py) => (v.top + v.height - v.offY - py) / v.scale + v.wy;
    v.inside = (px, py) => px >= v.left && px <= v.left + v.width && py >= v.top && py <= v.top + v.height;
    return v;
  }

  function tickStep(range) {
    if (!(range > 0) || !finite(range)) return 1;
    const raw = range / 5;
    const magnitude = Math.pow(10, Math.floor(Math.log10(raw)));
    const n = raw / magnitude;
    return (n < 1.5 ? 1 : n < 3.5 ? 2 : n < 7.5 ? 5 : 10) * magnitude;
  }

  function number(v) {
    if (Math.abs(v) >= 1e6 || (Math.abs(v) < 1e-3 && v !== 0)) return String(Number(v.toPrecision(3)));
    return String(Number((Math.round(v * 1000) / 1000).toPrecision(6)));
  }

  function text(ctx, x, y, s, size, align, bold = false, family = 'sans-serif') {
    ctx.font = `${bold ? 'bold ' : ''}${size}px ${family}`;
    ctx.textAlign = align === 1 ? 'center' : align === 2 ? 'right' : 'left';
    ctx.textBaseline = 'alphabetic';
    ctx.fillText(s, x, y);
  }

  const goodPoint = (p) => Array.isArray(p) && finite(p[0]) && finite(p[1]);

  // ---- Images ----------------------------------------------------------------------------

  // An image's pixels (8-bit grey or 32-bit blue, green, red, alpha) as an
  // opaque canvas of its own size; null when it has none or they are short.
  function imageCanvas(image) {
    const w = image.width | 0;
    const h = image.height | 0;
    const bytes = image.bits === 32 ? 4 : image.bits === 8 ? 1 : 0;
    if (w <= 0 || h <= 0 || w > 32767 || h > 32767 || !bytes || typeof image.pixels !== 'string') return null;
    let raw;
    try {
      raw = atob(image.pixels);
    } catch (e) {
      return null;
    }
    if (raw.length < w * h * bytes) return null;
    const out = new ImageData(w, h);
    const d = out.data;
    for (let i = 0, o = 0; i < w * h; ++i, o += 4) {
      if (bytes === 1) {
        d[o] = d[o + 1] = d[o + 2] = raw.charCodeAt(i);
      } else {
        d[o] = raw.charCodeAt(4 * i + 2);
        d[o + 1] = raw.charCodeAt(4 * i + 1);
        d[o + 2] = raw.charCodeAt(4 * i);
      }
      d[o + 3] = 255;
    }
    const canvas = document.createElement('canvas');
    canvas.width = w;
    canvas.height = h;
    canvas.getContext('2d').putImageData(out, 0, 0);
    return canvas;
  }

  function paintImage(ctx, source, x, y, w, h) {
    if (!source || !(w > 0) || !(h > 0)) return;
    ctx.save();
    ctx.beginPath();
    ctx.rect(x, y, w, h);
    ctx.clip();
    ctx.imageSmoothingEnabled = false;
    ctx.drawImage(source, x, y, w, h);
    ctx.restore();
  }

  // ---- Plots -----------------------------------------------------------------------------

  function drawGraphic(ctx, g, v) {
    const pens = Array.isArray(g.pens) ? g.pens : [];
    const brushes = Array.isArray(g.brushes) ? g.brushes : [];
    const markers = Array.isArray(g.markers) ? g.markers : [];
    const fonts = Array.isArray(g.fonts) ? g.fonts : [];
    for (const d of Array.isArray(g.drawings) ? g.drawings : []) {
      const pen = d.pen >= 0 && d.pen < pens.length && pens[d.pen] ? pens[d.pen] : {colour: '#FF000000', width: 1};
      const penColour = colour(pen.colour);
      const haveBrush = d.brush >= 0 && d.brush < brushes.length;
      const brush = haveBrush ? colour(brushes[d.brush]) : penColour;
      const penWidth = finite(pen.width) ? clamp(pen.width, 1, 40) : 1;
      const pts = Array.isArray(d.points) ? d.points : [];
      if (d.kind === 'polyline') {
        ctx.strokeStyle = css(penColour);
        ctx.lineWidth = penWidth;
        ctx.beginPath();
        let open = false;
        for (const p of pts) {
          if (!goodPoint(p)) {
            open = false;  // a null point breaks the line
            continue;
          }
          if (open) ctx.lineTo(v.X(p[0]), v.Y(p[1]));
          else ctx.moveTo(v.X(p[0]), v.Y(p[1]));
          open = true;
        }
        ctx.stroke();
      } else if (d.kind === 'points') {
        const marker = d.marker >= 0 && d.marker < markers.length && markers[d.marker] ? markers[d.marker]
                                                                                     : {shape: 2, size: 2};
        const size = finite(marker.size) ? clamp(marker.size, 2, 60) : 2;
        const h = size / 2;
        ctx.beginPath();
        for (const p of pts) {
          if (!goodPoint(p)) continue;
          const x = v.X(p[0]);
          const y = v.Y(p[1]);
          if (marker.shape === 1) {
            ctx.moveTo(x - h, y - h);
            ctx.lineTo(x + h, y + h);
            ctx.moveTo(x - h, y + h);
            ctx.lineTo(x + h, y - h);
          } else if (marker.shape === 3) {
            ctx.moveTo(x + h, y);
            ctx.arc(x, y, h, 0, 2 * Math.PI);
          } else {  // square, or a plain dot for no marker
            ctx.rect(x - h, y - h, size, size);
          }
        }
        if (marker.shape === 1) {
          ctx.strokeStyle = css(penColour);
          ctx.lineWidth = 1;
          ctx.stroke();
        } else {
          ctx.fillStyle = css(brush);
          ctx.fill();
          ctx.strokeStyle = css(penColour);
          ctx.lineWidth = 0.5;
          ctx.stroke();
        }
      } else if (d.kind === 'text' && typeof d.text === 'string' && pts.length >= 1 && goodPoint(pts[0])) {
        const font = d.font >= 0 && d.font < fonts.length && fonts[d.font] ? fonts[d.font]
                                                                          : {family: 0, style: 0, size: 12};
        const family = font.family === 1 ? 'serif' : font.family === 2 ? 'monospace' : 'sans-serif';
        ctx.fillStyle = css(brush);
        text(ctx, v.X(pts[0][0]), v.Y(pts[0][1]), d.text, finite(font.size) ? clamp(font.size, 6, 200) : 12, 0,
             font.style === 1, family);
      }
    }
  }

  // The world the plot gives (or its content's), before any zoom.
  function plotWorld(plot) {
    const b = bounds();
    for (const image of plot.images || []) {
      b.add(0, 0);
      b.add(image.width, image.height);
    }
    for (const g of plot.graphics || [])
      for (const d of g.drawings || [])
        for (const p of d.points || []) if (goodPoint(p)) b.add(p[0], p[1]);
    const w = Array.isArray(plot.world) ? plot.world : [];
    const [wx, ww] = saneRange(w[0], w[2], b.x0, b.x1, b.valid());
    const [wy, wh] = saneRange(w[1], w[3], b.y0, b.y1, b.valid());
    return {wx, ww, wy, wh};
  }

  function drawAxes(ctx, v, ink) {
    ctx.strokeStyle = css([ink[0], ink[1], ink[2], 0.6]);
    ctx.fillStyle = css([ink[0], ink[1], ink[2], 0.6]);
    ctx.lineWidth = 1;
    ctx.strokeRect(v.left + 0.5, v.top + 0.5, v.width, v.height);
    const x0 = v.wx - v.offX / v.scale;
    const x1 = x0 + v.width / v.scale;
    const y0 = v.wy - v.offY / v.scale;
    const y1 = y0 + v.height / v.scale;
    const sx = tickStep(x1 - x0);
    for (let t = Math.ceil(x0 / sx) * sx, i = 0; t <= x1 && sx > 0 && i < 100; t += sx, ++i) {
      const px = v.X(t);
      ctx.beginPath();
      ctx.moveTo(px, v.top + v.height);
      ctx.lineTo(px, v.top + v.height + 4);
      ctx.stroke();
      text(ctx, px, v.top + v.height + 16, number(t), 10, 1);
    }
    const sy = tickStep(y1 - y0);
    for (let t = Math.ceil(y0 / sy) * sy, i = 0; t <= y1 && sy > 0 && i < 100; t += sy, ++i) {
      const py = v.Y(t);
      ctx.beginPath();
      ctx.moveTo(v.left - 4, py);
      ctx.lineTo(v.left, py);
      ctx.stroke();
      text(ctx, v.left - 6, py + 3, number(t), 10, 2);
    }
  }

  // Draws a plot in width x height; `zoom` ({wx, ww, wy, wh}) shows part of
  // the world instead of all of it. Returns the view, for the cursor.
  function drawPlot(ctx, plot, width, height, zoom) {
    const back = plot.backColour ? colour(plot.backColour) : [255, 255, 255, 1];
    ctx.fillStyle = css([back[0], back[1], back[2], 1]);
    ctx.fillRect(0, 0, width, height);
    const luminance = (0.3 * back[0] + 0.59 * back[1] + 0.11 * back[2]) / 255;
    const ink = luminance > 0.5 ? [26, 26, 26, 1] : [235, 235, 235, 1];
    const world = zoom || plotWorld(plot);
    const area = {left: PLOT.left, top: PLOT.top, width: width - PLOT.left - PLOT.right,
                  height: height - PLOT.top - PLOT.bottom};
    const v = makeView(area, world.wx, world.ww, world.wy, world.wh);

    ctx.fillStyle = css(ink);
    if (plot.title) text(ctx, width / 2, 24, plot.title, 16, 1, true);
    if (plot.xTitle) text(ctx, v.left + v.width / 2, height - 10, plot.xTitle, 12, 1);
    if (plot.yTitle) {
      ctx.save();
      ctx.translate(16, v.top + v.height / 2);
      ctx.rotate(-Math.PI / 2);
      text(ctx, 0, 0, plot.yTitle, 12, 1);
      ctx.restore();
    }
    drawAxes(ctx, v, ink);

    ctx.save();
    ctx.beginPath();
    ctx.rect(v.left, v.top, v.width, v.height);
    ctx.clip();
    // The numbers list a plot's images apart from its graphics: images
    // first, graphics over them (plots hold an image under their marks).
    for (const image of plot.images || []) {
      // An image covers the world rectangle.
      const w = plotWorld(plot);
      paintImage(ctx, imageCanvas(image), v.X(w.wx), v.Y(w.wy + w.wh), w.ww * v.scale, w.wh * v.scale);
    }
    for (const g of plot.graphics || []) drawGraphic(ctx, g, v);
    ctx.restore();
    return v;
  }

  // ---- Polar models ----------------------------------------------------------------------

  // Blue through green to orange as t goes from 0 to 1.
  function hue(t, channel) {
    const stops = [[0.15, 0.35, 0.85], [0.2, 0.7, 0.35], [0.95, 0.55, 0.1]];
    t = clamp(t, 0, 1) * 2;
    const i = Math.min(1, Math.floor(t));
    const f = t - i;
    return stops[i][channel] * (1 - f) + stops[i + 1][channel] * f;
  }

  // The slices of a model that have a centre and radii.
  function polarSlices(model) {
    const slices = [];
    const centres = Array.isArray(model.centres) ? model.centres : [];
    const radii = Array.isArray(model.radii) ? model.radii : [];
    for (let i = 0; i < centres.length && i < radii.length; ++i) {
      const c = centres[i];
      const r = radii[i];
      if (!Array.isArray(c) || c.length < 3 || !Array.isArray(r) || r.length === 0) continue;
      slices.push({cx: c[0], cy: c[1], cz: c[2], radii: r});
    }
    return slices;
  }

  function polarPoint(s, k) {
    const a = 2 * Math.PI * k / s.radii.length;
    return [s.cx + s.radii[k] * Math.cos(a), s.cy + s.radii[k] * Math.sin(a)];
  }

  // The end view (x, y) on the left and an oblique side view along the
  // transport on the right, each outline coloured by its place in the
  // object. Returns the end view, for the cursor.
  function drawPolar(ctx, model, width, height) {
    ctx.fillStyle = 'rgb(20,23,31)';
    ctx.fillRect(0, 0, width, height);
    const slices = polarSlices(model);
    ctx.fillStyle = 'rgb(235,235,235)';
    text(ctx, width / 2, 24, `Detection: ${slices.length} slices`, 16, 1, true);
    text(ctx, 170, height - 12, 'end view (x, y)', 11, 1);
    text(ctx, 340 + (width - 360) / 2, height - 12, 'side view along the transport', 11, 1);
    if (slices.length === 0) return null;
    const kx = 0.5;  // obliqueness of the side view
    const end = bounds();
    const side = bounds();
    for (const s of slices) {
      for (let k = 0; k < s.radii.length; ++k) {
        const [x, y] = polarPoint(s, k);
        end.add(x, y);
        side.add(s.cz + kx * x, y + 0.3 * x);
      }
    }
    const viewOf = (area, b) => {
      const [wx, ww] = saneRange(b.x0, b.x1 - b.x0, b.x0, b.x1, b.valid());
      const [wy, wh] = saneRange(b.y0, b.y1 - b.y0, b.y0, b.y1, b.valid());
      return makeView(area, wx, ww, wy, wh);
    };
    const e = viewOf({left: 20, top: 40, width: 300, height: height - 80}, end);
    const sv = viewOf({left: 340, top: 40, width: width - 360, height: height - 80}, side);
    const stride = Math.max(1, Math.floor(slices.length / SLICES_DRAWN));
    ctx.lineWidth = 1;
    for (let i = 0; i < slices.length; i += stride) {
      const s = slices[i];
      const t = slices.length > 1 ? i / (slices.length - 1) : 0;
      ctx.strokeStyle = `rgba(${Math.round(hue(t, 0) * 255)},${Math.round(hue(t, 1) * 255)},` +
                        `${Math.round(hue(t, 2) * 255)},0.55)`;
      const n = s.radii.length;
      ctx.beginPath();
      for (let k = 0; k <= n; ++k) {
        const [x, y] = polarPoint(s, k % n);
        if (k === 0) ctx.moveTo(e.X(x), e.Y(y)); else ctx.lineTo(e.X(x), e.Y(y));
      }
      ctx.stroke();
      ctx.beginPath();
      for (let k = 0; k <= n; ++k) {
        const [x, y] = polarPoint(s, k % n);
        const u = s.cz + kx * x;
        const w = y + 0.3 * x;
        if (k === 0) ctx.moveTo(sv.X(u), sv.Y(w)); else ctx.lineTo(sv.X(u), sv.Y(w));
      }
      ctx.stroke();
    }
    return e;
  }

  // ---- One display's canvas ----------------------------------------------------------------

  // The picture's shape (height over width) for a content.
  function aspect(content) {
    if (content.kind === 'polar model') return POLAR_ASPECT;
    if (content.kind === 'image') {
      const w = Math.max(content.width | 0, IMAGE_MIN_SIDE);
      const h = Math.max(content.height | 0, IMAGE_MIN_SIDE);
      return h / w;
    }
    return PLOT_ASPECT;
  }

  // Draws `content` in a width x height picture of `ctx` (in its own units:
  // the caller scales for the pixel ratio). Returns the view in mils the
  // cursor reads, or null.
  function drawContent(ctx, content, width, height, zoom = null) {
    if (content.kind === 'plot') return drawPlot(ctx, content, width, height, zoom);
    if (content.kind === 'polar model') return drawPolar(ctx, content, width, height);
    if (content.kind === 'image') {
      ctx.fillStyle = 'black';
      ctx.fillRect(0, 0, width, height);
      paintImage(ctx, imageCanvas(content), 0, 0, width, height);
    }
    return null;
  }

  // What a canvas says to a screen reader about what it shows.
  function describe(name, content) {
    if (content.kind === 'plot') {
      let points = 0;
      for (const g of content.graphics || []) points += (g.points || 0) + (g.linePoints || 0);
      return `${name}: plot${content.title ? ` "${content.title}"` : ''}, ${points} points`;
    }
    if (content.kind === 'polar model') return `${name}: polar model of ${content.slices | 0} slices`;
    if (content.kind === 'image') return `${name}: image of ${content.width} by ${content.height} pixels`;
    return name;
  }

  // A display's canvas with its tools: zoom and pan for plots, a reset,
  // the cursor's position. `show(content)` draws new content, keeping the
  // zoom; the canvas follows its box's size and the pixel ratio.
  class DisplayCanvas {
    constructor(name) {
      this.name = name;
      this.content = null;
      this.zoom = null;  // the world shown when zoomed, else null (all of it)
      this.view = null;
      this.canvas = document.createElement('canvas');
      this.canvas.className = 'drawing';
      this.canvas.setAttribute('role', 'img');
      this.canvas.setAttribute('aria-label', name);
      this.cursor = document.createElement('span');
      this.cursor.className = 'cursor';
      this.cursor.setAttribute('aria-live', 'off');
      this.reset = document.createElement('button');
      this.reset.type = 'button';
      this.reset.className = 'reset';
      this.reset.textContent = 'Reset view';
      this.reset.setAttribute('aria-label', `Reset view of ${name}`);
      this.reset.hidden = true;
      this.reset.addEventListener('click', () => this.setZoom(null));
      this.element = document.createElement('div');
      this.element.className = 'content canvas-display';
      const tools = document.createElement('div');
      tools.className = 'tools';
      tools.append(this.reset, this.cursor);
      this.element.append(this.canvas, tools);
      this.listen();
      this.resizer = new ResizeObserver(() => this.draw());
      this.resizer.observe(this.canvas);
    }

    show(content) {
      if (!this.content || this.content.kind !== content.kind) this.zoom = null;
      this.content = content;
      this.canvas.setAttribute('aria-label', describe(this.name, content));
      this.canvas.dataset.kind = content.kind;
      this.draw();
    }

    draw() {
      const content = this.content;
      if (!content) return;
      const width = Math.max(1, this.canvas.clientWidth || 480);
      const height = Math.max(1, Math.round(width * aspect(content)));
      this.canvas.style.height = `${height}px`;
      const ratio = window.devicePixelRatio || 1;
      const pw = Math.round(width * ratio);
      const ph = Math.round(height * ratio);
      if (this.canvas.width !== pw || this.canvas.height !== ph) {
        this.canvas.width = pw;
        this.canvas.height = ph;
      }
      const ctx = this.canvas.getContext('2d');
      ctx.setTransform(ratio, 0, 0, ratio, 0, 0);
      this.view = drawContent(ctx, content, width, height, content.kind === 'plot' ? this.zoom : null);
      this.size = {width, height};
    }

    // Lets go of what follows the canvas's size (its display is gone).
    dispose() {
      this.resizer.disconnect();
    }

    setZoom(zoom) {
      this.zoom = zoom;
      this.reset.hidden = zoom === null;
      this.draw();
    }

    // The world shown now: the zoom, or the view's whole world.
    shownWorld() {
      const v = this.view;
      return {wx: v.wx - v.offX / v.scale, ww: v.width / v.scale, wy: v.wy - v.offY / v.scale,
              wh: v.height / v.scale};
    }

    point(event) {
      const r = this.canvas.getBoundingClientRect();
      return [event.clientX - r.left, event.clientY - r.top];
    }

    listen() {
      const plot = () => this.content && this.content.kind === 'plot' && this.view;
      this.canvas.addEventListener('wheel', (event) => {
        if (!plot()) return;
        const [px, py] = this.point(event);
        if (!this.view.inside(px, py)) return;
        event.preventDefault();
        const factor = Math.pow(1.0015, event.deltaY);  // down (positive) zooms out
        const x = this.view.worldX(px);
        const y = this.view.worldY(py);
        const w = this.shownWorld();
        const ww = clamp(w.ww * factor, 1e-3, 1e12);
        const wh = clamp(w.wh * factor, 1e-3, 1e12);
        // The world point under the cursor stays under it.
        this.setZoom({wx: x - (x - w.wx) * ww / w.ww, ww, wy: y - (y - w.wy) * wh / w.wh, wh});
      }, {passive: false});
      this.canvas.addEventListener('pointerdown', (event) => {
        if (!plot() || event.button !== 0) return;
        this.drag = {start: this.point(event), world: this.shownWorld(), scale: this.view.scale};
        this.canvas.setPointerCapture(event.pointerId);
      });
      this.canvas.addEventListener('pointerup', () => { this.drag = null; });
      this.canvas.addEventListener('pointercancel', () => { this.drag = null; });
      this.canvas.addEventListener('dblclick', () => this.setZoom(null));
      this.canvas.addEventListener('pointermove', (event) => {
        const [px, py] = this.point(event);
        if (this.drag) {
          const d = this.drag;
          const w = d.world;
          this.setZoom({wx: w.wx - (px - d.start[0]) / d.scale, ww: w.ww,
                        wy: w.wy + (py - d.start[1]) / d.scale, wh: w.wh});
        }
        this.showCursor(px, py);
      });
      this.canvas.addEventListener('pointerleave', () => { this.cursor.textContent = ''; });
    }

    showCursor(px, py) {
      const v = this.view;
      if (!v || !v.inside(px, py)) {
        this.cursor.textContent = '';
        return;
      }
      const x = Math.round(v.worldX(px));
      const y = Math.round(v.worldY(py));
      this.cursor.textContent = `x ${x} mils, y ${y} mils`;
    }
  }

  return {drawContent, aspect, describe, polarSlices, polarPoint, DisplayCanvas};
})();

window.zvCanvas = zvCanvas;
