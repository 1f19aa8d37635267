// Detected objects in 3D: the outlines of a polar model stacked along the
// transport (each slice at its position in mils, as the mode measured it
// from the stamps and the encoder's resolution) into a surface the operator
// turns and zooms (drag, wheel), and steps through slice by slice with the
// current slice highlighted and its numbers beside it. The latest objects
// stay in view, each further along the transport as newer ones come.
// Drawn with three.js (embedded beside this file).
'use strict';

const zvView3d = (() => {
  const KEPT = 3;                // objects in view
  const GAP = 0.25;              // between objects, a fraction of the newest's length
  const UNIT = 1000;             // mils per scene unit (inches)
  const MAX_VERTICES = 2000000;  // a surface of more draws every n-th slice
  const ASPECT = 0.55;
  const views = new Map();       // display name -> its 3D view, for tests and measurements

  // Blue through green to orange along the object, as the 2D pictures.
  function hue(t) {
    const stops = [[0.15, 0.35, 0.85], [0.2, 0.7, 0.35], [0.95, 0.55, 0.1]];
    t = Math.min(1, Math.max(0, t)) * 2;
    const i = Math.min(1, Math.floor(t));
    const f = t - i;
    return [0, 1, 2].map((c) => stops[i][c] * (1 - f) + stops[i + 1][c] * f);
  }

  // Numbers of one slice, in mils.
  function sliceStatistics(slice) {
    let low = Infinity;
    let high = -Infinity;
    let sum = 0;
    let area = 0;
    const n = slice.radii.length;
    for (let k = 0; k < n; ++k) {
      const r = slice.radii[k];
      low = Math.min(low, r);
      high = Math.max(high, r);
      sum += r;
      area += 0.5 * r * slice.radii[(k + 1) % n] * Math.sin(2 * Math.PI / n);
    }
    return {low, high, mean: sum / n, area};
  }

  // One detected object: its slices and the meshes made of them.
  class Solid {
    constructor(content, generation) {
      this.generation = generation;
      this.slices = zvCanvas.polarSlices(content);
      this.length = this.slices.length ? this.slices[this.slices.length - 1].cz - this.slices[0].cz : 0;
      this.group = null;
    }

    // The surface (and the outline of each kept slice), in scene units;
    // null for an object without two slices.
    build(THREE) {
      const slices = this.slices;
      if (slices.length < 2) return null;
      const stride = Math.max(1, Math.ceil(slices.reduce((n, s) => n + s.radii.length, 0) / MAX_VERTICES));
      const kept = slices.filter((s, i) => i % stride === 0 || i === slices.length - 1);
      const k = kept[0].radii.length;
      const rings = kept.filter((s) => s.radii.length === k);
      const positions = new Float32Array(rings.length * k * 3);
      const colours = new Float32Array(rings.length * k * 3);
      rings.forEach((s, i) => {
        const c = hue(rings.length > 1 ? i / (rings.length - 1) : 0);
        for (let j = 0; j < k; ++j) {
          const [x, y] = zvCanvas.polarPoint(s, j);
          const o = (i * k + j) * 3;
          positions.set([x / UNIT, y / UNIT, s.cz / UNIT], o);
          colours.set(c, o);
        }
      });
      const index = [];
      for (let i = 0; i + 1 < rings.length; ++i) {
        for (let j = 0; j < k; ++j) {
          const a = i * k + j;
          const b = i * k + (j + 1) % k;
          index.push(a, a + k, b, b, a + k, b + k);
        }
      }
      const geometry = new THREE.BufferGeometry();
      geometry.setAttribute('position', new THREE.Float32BufferAttribute(positions, 3));
      geometry.setAttribute('color', new THREE.Float32BufferAttribute(colours, 3));
      geometry.setIndex(index);
      geometry.computeVertexNormals();
      geometry.computeBoundingBox();
      const material = new THREE.MeshPhongMaterial({vertexColors: THREE.VertexColors, side: THREE.DoubleSide,
                                                    shininess: 20});
      this.surface = new THREE.Mesh(geometry, material);
      this.group = new THREE.Group();
      this.group.add(this.surface);
      return this.group;
    }

    // The surface's bounding box in mils, where the object lies itself
    // (its first slice at its own position): {min: [x, y, z], max: [...]}.
    bounds() {
      if (!this.surface) return null;
      const box = this.surface.geometry.boundingBox;
      return {min: [box.min.x * UNIT, box.min.y * UNIT, box.min.z * UNIT],
              max: [box.max.x * UNIT, box.max.y * UNIT, box.max.z * UNIT]};
    }

    dispose() {
      if (!this.surface) return;
      this.surface.geometry.dispose();
      this.surface.material.dispose();
    }
  }

  // The 3D view of one display: its canvas, the slice controls and the
  // numbers of the current slice.
  class SolidView {
    constructor(name) {
      this.name = name;
      views.set(name, this);
      this.solids = [];  // newest first
      this.current = 0;  // slice of the newest object shown
      this.held = false; // the operator moved the camera since the view was reset
      this.element = document.createElement('section');
      this.element.className = 'solid-view';
      this.element.setAttribute('aria-label', `${name} in 3D`);
      const heading = document.createElement('h3');
      heading.textContent = `${name} in 3D`;
      this.canvas = document.createElement('canvas');
      this.canvas.className = 'solid';
      this.canvas.setAttribute('role', 'img');
      this.canvas.setAttribute('aria-label', `${name}: the latest objects in 3D`);
      this.canvas.tabIndex = 0;
      this.note = document.createElement('p');
      this.note.className = 'note';
      this.note.hidden = true;
      const steps = document.createElement('div');
      steps.className = 'steps';
      this.previous = this.button('◀', 'Previous slice', () => this.step(-1));
      this.next = this.button('▶', 'Next slice', () => this.step(1));
      this.slider = document.createElement('input');
      this.slider.type = 'range';
      this.slider.min = '0';
      this.slider.max = '0';
      this.slider.value = '0';
      this.slider.setAttribute('aria-label', 'Slice shown');
      this.slider.addEventListener('input', () => this.select(Number(this.slider.value)));
      this.resetButton = this.button('Reset view', `Reset view of ${name} in 3D`, () => {
        this.held = false;
        this.frame();
      });
      steps.append(this.previous, this.slider, this.next, this.resetButton);
      this.numbers = document.createElement('dl');
      this.numbers.className = 'slice-numbers';
      this.numbers.setAttribute('aria-live', 'polite');
      const body = document.createElement('div');
      body.className = 'solid-body';
      const side = document.createElement('div');
      side.className = 'solid-side';
      side.append(steps, this.numbers);
      body.append(this.canvas, side);
      this.element.append(heading, this.note, body);
      this.canvas.addEventListener('keydown', (event) => {
        if (event.key === 'PageDown') this.step(1);
        else if (event.key === 'PageUp') this.step(-1);
        else return;
        event.preventDefault();
      });
      this.start();
    }

    button(text, label, action) {
      const b = document.createElement('button');
      b.type = 'button';
      b.textContent = text;
      b.setAttribute('aria-label', label);
      b.addEventListener('click', action);
      return b;
    }

    // The scene, the camera and its controls; without WebGL the view says
    // so and keeps its numbers.
    start() {
      const THREE = window.THREE;
      try {
        if (!THREE) throw new Error('three.js is missing');
        this.renderer = new THREE.WebGLRenderer({canvas: this.canvas, antialias: true, preserveDrawingBuffer: true});
      } catch (e) {
        this.renderer = null;
        this.note.hidden = false;
        this.note.textContent = 'This browser cannot draw in 3D (no WebGL): the slices\u2019 numbers are shown alone.';
        return;
      }
      this.THREE = THREE;
      this.scene = new THREE.Scene();
      this.scene.background = new THREE.Color(0x141720);
      this.camera = new THREE.PerspectiveCamera(40, 1 / ASPECT, 0.01, 10000);
      this.scene.add(new THREE.AmbientLight(0xffffff, 0.45));
      const light = new THREE.DirectionalLight(0xffffff, 0.75);
      light.position.set(1, 1, 2);
      this.camera.add(light);
      this.scene.add(this.camera);
      const highlight = new THREE.LineBasicMaterial({color: 0xffe14d});
      this.ring = new THREE.LineLoop(new THREE.BufferGeometry(), highlight);
      this.disc = new THREE.Mesh(new THREE.BufferGeometry(),
                                 new THREE.MeshBasicMaterial({color: 0xffe14d, transparent: true, opacity: 0.45,
                                                              side: THREE.DoubleSide, depthWrite: false}));
      this.scene.add(this.ring, this.disc);
      this.controls = new THREE.OrbitControls(this.camera, this.canvas);
      this.controls.addEventListener('change', () => this.render());
      // Turned or zoomed by the operator: new objects leave the camera be.
      this.controls.addEventListener('start', () => { this.held = true; });
      this.resizer = new ResizeObserver(() => this.render());
      this.resizer.observe(this.canvas);
    }

    // A new object detected: it comes into view, the others move on along
    // the transport, the oldest beyond KEPT leaves.
    add(content, generation) {
      if (this.solids.length && this.solids[0].generation === generation) return;
      const solid = new Solid(content, generation);
      this.solids.unshift(solid);
      while (this.solids.length > KEPT) {
        const gone = this.solids.pop();
        if (gone.group && this.scene) this.scene.remove(gone.group);
        gone.dispose();
      }
      if (this.scene) {
        const group = solid.build(this.THREE);
        if (group) this.scene.add(group);
        this.place();
      } else if (window.THREE) {
        solid.build(window.THREE);  // its numbers and bounds, drawn or not
      }
      this.slider.max = String(Math.max(0, solid.slices.length - 1));
      this.select(Math.min(this.current, Math.max(0, solid.slices.length - 1)));
      if (!this.held) this.frame();
      this.render();
    }

    // Each older object sits beyond the one after it along the transport.
    place() {
      let offset = 0;
      for (let i = 0; i < this.solids.length; ++i) {
        const s = this.solids[i];
        if (i > 0) offset += (this.solids[i - 1].length + GAP * Math.max(this.solids[0].length, 1)) / UNIT;
        if (s.group) s.group.position.z = offset;
      }
    }

    // The camera looks at the newest object from the side and above.
    frame() {
      const solid = this.solids[0];
      if (!this.camera || !solid || !solid.surface) return;
      const box = solid.surface.geometry.boundingBox;
      const centre = new this.THREE.Vector3();
      box.getCenter(centre);
      const size = new this.THREE.Vector3();
      box.getSize(size);
      const reach = Math.max(size.x, size.y, size.z, 0.01);
      this.camera.position.set(centre.x + reach * 1.1, centre.y + reach * 0.6, centre.z - reach * 0.4);
      this.controls.target.copy(centre);
      this.controls.update();
      this.render();
    }

    step(delta) {
      const solid = this.solids[0];
      if (!solid || !solid.slices.length) return;
      this.select(Math.min(solid.slices.length - 1, Math.max(0, this.current + delta)));
    }

    // Slice `index` of the newest object becomes the current one.
    select(index) {
      const solid = this.solids[0];
      this.current = index;
      this.slider.value = String(index);
      const slice = solid && solid.slices[index];
      this.showNumbers(solid, slice, index);
      if (!this.scene || !slice) return;
      const THREE = this.THREE;
      const points = [];
      for (let k = 0; k < slice.radii.length; ++k) {
        const [x, y] = zvCanvas.polarPoint(slice, k);
        points.push(new THREE.Vector2(x / UNIT, y / UNIT));
      }
      const z = slice.cz / UNIT;
      this.ring.geometry.dispose();
      this.ring.geometry = new THREE.BufferGeometry().setFromPoints(points.map((p) => new THREE.Vector3(p.x, p.y, z)));
      this.disc.geometry.dispose();
      this.disc.geometry = new THREE.ShapeBufferGeometry(new THREE.Shape(points));
      this.disc.position.z = z;
      this.render();
    }

    showNumbers(solid, slice, index) {
      const rows = [];
      if (solid && slice) {
        const st = sliceStatistics(slice);
        const round = (v) => String(Math.round(v));
        rows.push(['Object', `#${solid.generation} (${this.solids.length} in view)`],
                  ['Slice', `${index + 1} of ${solid.slices.length}`],
                  ['Position', `${round(slice.cz)} mils`],
                  ['Object length', `${round(solid.length)} mils`],
                  ['Centre', `x ${round(slice.cx)}, y ${round(slice.cy)} mils`],
                  ['Radius', `${round(st.low)} to ${round(st.high)} mils, mean ${round(st.mean)}`],
                  ['Area', `${(st.area / (UNIT * UNIT)).toFixed(2)} in\u00b2`]);
      } else {
        rows.push(['Object', 'none detected yet']);
      }
      const items = [];
      for (const [term, value] of rows) {
        const dt = document.createElement('dt');
        dt.textContent = term;
        const dd = document.createElement('dd');
        dd.textContent = value;
        items.push(dt, dd);
      }
      this.numbers.replaceChildren(...items);
    }

    render() {
      if (!this.renderer) return;
      const width = Math.max(1, this.canvas.clientWidth || 480);
      const height = Math.max(1, Math.round(width * ASPECT));
      const ratio = window.devicePixelRatio || 1;
      if (this.canvas.width !== Math.round(width * ratio) || this.canvas.height !== Math.round(height * ratio)) {
        this.renderer.setPixelRatio(ratio);
        this.renderer.setSize(width, height, false);
        this.camera.aspect = width / height;
        this.camera.updateProjectionMatrix();
      }
      this.canvas.style.height = `${height}px`;
      this.renderer.render(this.scene, this.camera);
    }

    // Releases the WebGL context and the meshes (the display is gone): a
    // browser keeps only a few contexts alive.
    dispose() {
      for (const solid of this.solids) solid.dispose();
      this.solids = [];
      if (views.get(this.name) === this) views.delete(this.name);
      if (!this.renderer) return;
      this.resizer.disconnect();
      this.controls.dispose();
      this.renderer.dispose();
      this.renderer.forceContextLoss();
      this.renderer = null;
    }

    // For tests: the newest object's surface in mils, its length and slices.
    latest() {
      const solid = this.solids[0];
      if (!solid) return null;
      return {generation: solid.generation, slices: solid.slices.length, length: solid.length,
              bounds: solid.bounds(), drawn: Boolean(this.renderer), kept: this.solids.length,
              lengths: this.solids.map((s) => s.length),
              placed: this.solids.map((s) => (s.group ? s.group.position.z * UNIT : null))};
    }
  }

  return {SolidView, sliceStatistics, views};
})();

window.zvView3d = zvView3d;
window.zvSolidViews = zvView3d.views;
