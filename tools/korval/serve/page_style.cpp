#include "tools/korval/serve/page_assets.h"

namespace korval::tools::serve {

const char* const kPageStyle = R"css(
:root { font-family: system-ui, sans-serif; font-size: 14px; color: #1d232b; background: #eef1f4; }
body { margin: 0; }
header { display: flex; align-items: baseline; gap: 2em; padding: 0.6em 1.2em; background: #1d2f45; color: #fff; }
header h1 { font-size: 1.3em; margin: 0; }
#message { margin: 0; color: #ffd479; min-height: 1.2em; }
main { display: flex; flex-wrap: wrap; gap: 1.2em; padding: 1.2em; align-items: flex-start; }
#viewer { flex: 0 0 368px; display: flex; flex-direction: column; gap: 0.8em; }
#controls { flex: 1 1 420px; display: grid; grid-template-columns: repeat(auto-fill, minmax(400px, 1fr)); gap: 0.8em; align-items: start; }
.picture { margin: 0; background: #000; padding: 4px 4px 2px; border-radius: 4px; width: 352px; }
.picture img { display: block; width: 352px; min-height: 120px; image-rendering: auto; }
#still-figure img { width: 352px; }
figcaption { color: #cfd8e3; font-variant-numeric: tabular-nums; padding: 0.3em 0.2em 0.1em; }
fieldset { background: #fff; border: 1px solid #c9d1db; border-radius: 4px; padding: 0.5em 0.8em 0.7em; margin: 0; }
legend { font-weight: 600; padding: 0 0.3em; }
fieldset label { display: inline-block; margin: 0.2em 1em 0.2em 0; }
.property { display: grid; grid-template-columns: 10.5em 1fr 3.6em 3.8em; align-items: center; gap: 0.5em; margin: 0.25em 0; }
.property input[type=range] { width: 100%; }
.property output { text-align: right; font-variant-numeric: tabular-nums; }
.property .auto { font-size: 0.9em; color: #4a5664; }
.property select { max-width: 100%; }
.row { display: flex; gap: 1em; align-items: center; }
button { padding: 0.4em 1.2em; border: 1px solid #35587f; background: #2d6cb3; color: #fff; border-radius: 3px; cursor: pointer; }
button:disabled { opacity: 0.6; cursor: wait; }
a { color: #2d6cb3; }
body[data-camera=gone] .picture img, body[data-camera=gone] #controls { opacity: 0.35; }
body[data-camera=gone] #message { font-weight: 600; }
)css";

} // namespace korval::tools::serve
