// The 3D QC view of one subject: NiiVue (niivue.umd.js, loaded after this file) showing the
// colour FA map with the smoothed tracks. A page names its files in data attributes of <body>:
//   data-volume            the colour FA map (RGB)
//   data-fallback-volume   the FA map, shown with a colour map when the RGB map cannot be shown
//   data-tracks            the track file (.trk, .tck or .trx); none when the subject has no track
// and the page needs a <canvas id="view"> and a <p id="status">. When it is done, <body> gets
// data-state="drawn" or data-state="failed" and the status line says what was shown or why not:
// people read it, and the tests wait for it. Errors of any script on the page are listed in
// <pre id="errors">, so that a page that draws but misbehaves is seen too.
"use strict";

const qcview = (() => {
    const errors = [];

    function recordError(text) {
        errors.push(text);
        const list = document.getElementById("errors");
        if (list) {
            list.textContent = errors.join("\n");
        }
    }

    // Capturing, so that a script that fails to load (not an exception) is recorded as well.
    window.addEventListener("error", (event) => {
        if (event.target && event.target !== window && event.target.src) {
            recordError("could not load " + event.target.src);
        } else {
            recordError(event.message || String(event.error));
        }
    }, true);
    window.addEventListener("unhandledrejection", (event) => {
        recordError("unhandled: " + (event.reason && event.reason.message || event.reason));
    });

    function ending(url) {
        const name = url.split("?")[0].toLowerCase();
        return name.slice(name.lastIndexOf(".") + 1);
    }

    async function fetchBytes(url) {
        let response;
        try {
            response = await fetch(url);
        } catch (error) {
            throw new Error("could not read " + url + ": " + error.message);
        }
        if (!response.ok) {
            throw new Error("could not read " + url + ": HTTP " + response.status);
        }
        return response.arrayBuffer();
    }

    // The orientation letter (R/L, A/P, S/I) of each voxel axis of a 4x4 row-major matrix: the
    // world axis it runs along most.
    function axisCodes(matrix) {
        const codes = [];
        for (let column = 0; column < 3; ++column) {
            let world = 0;
            for (let row = 1; row < 3; ++row) {
                if (Math.abs(matrix[row * 4 + column]) > Math.abs(matrix[world * 4 + column])) {
                    world = row;
                }
            }
            codes.push(matrix[world * 4 + column] >= 0 ? "RAS"[world] : "LPI"[world]);
        }
        return codes.join("");
    }

    const worldAxisOf = (code) => "RL".includes(code) ? 0 : "AP".includes(code) ? 1 : 2;

    // NiiVue places .trk points by the header's voxel-to-RAS matrix alone. The header's voxel
    // order says how the stored voxel axes run, and may differ from the matrix's (the toolkit
    // writes LPS with a RAS matrix for a volume without an orientation of its own); nibabel,
    // TrackVis, and so the .tck and TRX files made from the same tracks, turn the points by it.
    // The turn is therefore folded into the matrix of a copy of the file, and NiiVue draws the
    // tracks on their volume.
    function trkWithVoxelOrderInMatrix(buffer) {
        const view = new DataView(buffer);
        const magic = new TextDecoder().decode(new Uint8Array(buffer, 0, 5));
        if (buffer.byteLength < 1000 || magic !== "TRACK") {
            return buffer;
        }
        const matrix = [];
        for (let i = 0; i < 16; ++i) {
            matrix.push(view.getFloat32(440 + 4 * i, true));
        }
        const order = new TextDecoder().decode(new Uint8Array(buffer, 948, 3)).toUpperCase();
        if (matrix[15] === 0 || !/^[RLAPSI]{3}$/.test(order) ||
            new Set([...order].map(worldAxisOf)).size !== 3) {
            return buffer;  // no matrix or no usable voxel order: nothing to reconcile
        }
        const target = axisCodes(matrix);
        if (target === order) {
            return buffer;
        }
        const dims = [0, 1, 2].map((axis) => view.getInt16(6 + 2 * axis, true));
        // turn[a] maps voxel coordinates in the header's order to the matrix's axis a.
        const turn = [[0, 0, 0, 0], [0, 0, 0, 0], [0, 0, 0, 0], [0, 0, 0, 1]];
        for (let axis = 0; axis < 3; ++axis) {
            const world = worldAxisOf(target[axis]);
            const from = [...order].findIndex((code) => worldAxisOf(code) === world);
            if (order[from] === target[axis]) {
                turn[axis][from] = 1;
            } else {
                turn[axis][from] = -1;
                turn[axis][3] = dims[from] - 1;
            }
        }
        const copy = buffer.slice(0);
        const out = new DataView(copy);
        for (let row = 0; row < 4; ++row) {
            for (let column = 0; column < 4; ++column) {
                let sum = 0;
                for (let k = 0; k < 4; ++k) {
                    sum += matrix[row * 4 + k] * turn[k][column];
                }
                out.setFloat32(440 + 4 * (row * 4 + column), sum, true);
            }
        }
        new Uint8Array(copy, 948, 3).set(new TextEncoder().encode(target));
        return copy;
    }

    // NiiVue keeps a track file as its points and the index of each track's first point, ending
    // with the point count. Its .tck reader stores where each track ends instead, which loses the
    // first track; its TRX reader appends the point count to offsets that already end with it
    // (current TRX files do), which adds an empty track. Both are put right here, so that every
    // track is drawn and counted once; offsets that are right already are left as they are.
    function repairOffsets(mesh) {
        const points = mesh.pts.length / 3;
        const offsets = Array.from(mesh.offsetPt0);
        if (offsets.length > 0 && offsets[0] !== 0) {
            offsets.unshift(0);
        }
        while (offsets.length > 2 && offsets[offsets.length - 1] === points &&
               offsets[offsets.length - 2] === points) {
            offsets.pop();
        }
        if (offsets.length === mesh.offsetPt0.length) {
            return false;
        }
        mesh.offsetPt0 = Uint32Array.from(offsets);
        mesh.fiberLengths = undefined;  // computed once from the offsets
        return true;
    }

    // Loads a track file into NiiVue as it should be drawn; returns NiiVue's mesh of it.
    async function loadTracks(nv, url) {
        let buffer = await fetchBytes(url);
        if (ending(url) === "trk") {
            buffer = trkWithVoxelOrderInMatrix(buffer);
        }
        let mesh;
        try {
            mesh = await nv.addMeshFromUrl({ url, buffer });
        } catch (error) {
            throw new Error("NiiVue could not read " + url + ": " + error.message);
        }
        if (!mesh.offsetPt0) {
            throw new Error("NiiVue found no tracks in " + url);
        }
        if (repairOffsets(mesh)) {
            mesh.updateFibers(nv.gl);
            nv.drawScene();
        }
        return mesh;
    }

    // Tracks and points of a loaded track mesh, as drawn.
    function trackCounts(mesh) {
        return { tracks: mesh.offsetPt0.length - 1, points: mesh.pts.length / 3 };
    }

    async function loadVolume(nv, url, fallback) {
        try {
            await nv.loadVolumes([{ url }]);
            return "colour FA";
        } catch (error) {
            if (!fallback) {
                throw error;
            }
            recordError("colour FA not shown (" + error.message + "); FA instead");
            await nv.loadVolumes([{ url: fallback, colormap: "warm" }]);
            return "FA";
        }
    }

    async function showSubject() {
        const page = document.body.dataset;
        const status = document.getElementById("status");
        const say = (state, text) => {
            status.textContent = text;
            page.state = state;
        };
        try {
            if (window.location.protocol === "file:") {
                throw new Error("a page opened from the file system may not read the maps and " +
                                "tracks beside it: run 'cohort.sh OUTPUT_DIR view' and open " +
                                "the address it prints");
            }
            if (typeof niivue === "undefined") {
                throw new Error("NiiVue (niivue.umd.js) did not load");
            }
            const nv = new niivue.Niivue({
                backColor: [0, 0, 0, 1],
                crosshairColor: [1, 1, 1, 0.4],
                crosshairWidth: 0.5,
                isOrientCube: true,
                clipPlaneColor: [0, 0, 0, 0],
                // The 3D view large, the three slices beside it.
                multiplanarShowRender: niivue.SHOW_RENDER.ALWAYS,
                heroImageFraction: 0.6,
            });
            await nv.attachTo("view");
            const shown = await loadVolume(nv, page.volume, page.fallbackVolume);
            const dims = nv.volumes[0].dims.slice(1, 4).join("x");
            let tracks = "no tracks";
            if (page.tracks) {
                const counts = trackCounts(await loadTracks(nv, page.tracks));
                tracks = counts.tracks + " tracks, " + counts.points + " points";
            }
            nv.setSliceType(niivue.SLICE_TYPE.MULTIPLANAR);
            nv.setRenderAzimuthElevation(120, 20);
            // Tracks run inside the bundles' bright voxels: the 3D view cuts the volume away
            // above the middle axial plane so that they show.
            nv.setClipPlane([0, 0, 90]);
            for (const button of document.querySelectorAll("button[data-layout]")) {
                button.addEventListener("click", () => {
                    nv.setSliceType(niivue.SLICE_TYPE[button.dataset.layout]);
                });
            }
            say("drawn", shown + " " + dims + " with " + tracks);
        } catch (error) {
            recordError(error.message);
            say("failed", "Not shown: " + error.message);
        }
    }

    // Only a subject's page shows itself; other pages (the tests') call loadTracks.
    window.addEventListener("load", () => {
        if (document.body.dataset.volume !== undefined) {
            showSubject();
        }
    });

    return { loadTracks, trackCounts, errors };
})();
