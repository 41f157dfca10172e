#include "tools/korval/serve/page_assets.h"

namespace korval::tools::serve {

const char* const kPageHtml = R"html(<!DOCTYPE html>
<html lang="en">
<head>
<meta charset="utf-8">
<meta name="viewport" content="width=device-width, initial-scale=1">
<title>Korval camera</title>
<link rel="stylesheet" href="/page.css">
<script src="/page.js" defer></script>
</head>
<body>
<header>
  <h1>Korval camera</h1>
  <p id="message" role="status"></p>
</header>
<main>
  <section id="viewer">
    <figure class="picture">
      <img id="live" src="/stream.mjpg" alt="live picture from the camera">
      <figcaption id="counters">waiting for the first frame</figcaption>
    </figure>
    <div class="row">
      <button id="snapshot" type="button">Snapshot</button>
      <a id="download" href="/api/still.png?download=1" download="korval-still.png" hidden>Download PNG</a>
    </div>
    <figure class="picture" id="still-figure" hidden>
      <img id="still" alt="the still the driver stored">
      <figcaption id="still-caption">still</figcaption>
    </figure>
    <fieldset>
      <legend>Stream</legend>
      <label>Size <select id="size"></select></label>
      <label>Format <select id="format"></select></label>
    </fieldset>
    <fieldset>
      <legend>Scene</legend>
      <label>Pattern <select id="scene"></select></label>
      <label>Picture <input id="upload" type="file" accept="image/png"></label>
    </fieldset>
  </section>
  <section id="controls">
    <fieldset id="effects"><legend>Effect and overlay frame</legend></fieldset>
    <fieldset id="group-videoprocamp"><legend>Video processing</legend></fieldset>
    <fieldset id="group-cameracontrol"><legend>Exposure</legend></fieldset>
    <fieldset id="group-private"><legend>Camera</legend></fieldset>
    <div class="row"><button id="defaults" type="button">Defaults</button></div>
  </section>
</main>
</body>
</html>
)html";

} // namespace korval::tools::serve
