#!/usr/bin/python3
"""korval serve in headless Chromium: the live picture changes, the brightness
slider raises its mean, the negative effect inverts it, a restart at another
size keeps the settings, Defaults gives the fresh start's picture, a second
page follows the first, the snapshot button shows a still, and a stopped
server (SIGTERM while a client dribbles a request) is shown and reconnected;
saves a screenshot of the page. Exits 77 (skipped) only when Chromium or its
driver is not installed; Selenium missing beside them fails."""
import os
import re
import shutil
import signal
import socket
import subprocess
import sys
import tempfile
import time

CHROMIUM = "/usr/bin/chromium"
CHROMEDRIVER = "/usr/bin/chromedriver"
SKIP = 77

# The mean of the live picture (all R, G, B samples), a 44 x 36 grey
# thumbnail to tell two frames apart, and the R, G, B of a pixel near the left edge.
SAMPLE_PICTURE = """
const img = document.getElementById('live');
if (!img.naturalWidth) return null;
const canvas = document.createElement('canvas');
canvas.width = img.naturalWidth; canvas.height = img.naturalHeight;
const context = canvas.getContext('2d');
context.drawImage(img, 0, 0);
const data = context.getImageData(0, 0, canvas.width, canvas.height).data;
let sum = 0;
for (let i = 0; i < data.length; i += 4) sum += data[i] + data[i + 1] + data[i + 2];
const small = document.createElement('canvas');
small.width = 44; small.height = 36;
small.getContext('2d').drawImage(img, 0, 0, 44, 36);
const thumb = Array.from(small.getContext('2d').getImageData(0, 0, 44, 36).data.filter((_, i) => i % 4 == 1));
const edge = Array.from(context.getImageData(7, canvas.height >> 1, 1, 1).data.slice(0, 3));
return {mean: sum / (data.length / 4 * 3), thumb: thumb, edge: edge};
"""


# Holds the answers of the page's state requests (each one's release in window.heldStates) until
# the test lets them go, and asks for a state: an answer that arrives after a choice the user made.
HOLD_STATE_ANSWERS = """
window.heldStates = [];
window.sendRequest = window.fetch;
window.fetch = (url, options) => !String(url).startsWith('/api/state') ? window.sendRequest(url, options) :
    window.sendRequest(url, options).then((answer) => new Promise((release) => window.heldStates.push(() => release(answer))));
refreshState();
"""


def fail(message):
    raise AssertionError(message)


def wait_until(what, condition, timeout=60.0, state=None):
    """Waits for the condition; the bound is for a hang, not for a slow machine (a stream restart beside
    the rest of the suite has taken more than 15 s)."""
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        value = condition()
        if value:
            return value
        time.sleep(0.2)
    fail("timed out waiting until " + what + (" (" + state() + ")" if state else ""))


# Auto exposure rests anywhere inside its band, target 100 +- 10 in its own metering before the tone
# curve; the whole picture's mean after white balance and the curve has differed by up to 21.6
# between two settled pictures (ASan, beside stress-ng --cpu 6). A missed default is far off (the
# brightness step reaches 255).
AE_BAND_WIDTH = 30


def settled_mean(sample, condition, what="the picture settles"):
    """The mean once three looks a second apart agree (auto exposure has settled) and meet the condition."""
    means = []
    last = [0.0]

    def settled():
        if time.monotonic() - last[0] < 1.0:
            return False
        last[0] = time.monotonic()
        means.append(sample()["mean"])
        recent = means[-3:]
        return len(recent) == 3 and max(recent) - min(recent) < 3 and condition(recent[-1]) and recent[-1]
    wait_until(what, settled, timeout=40)
    return means[-1]


def distribution_distance(a, b):
    """Mean distance between the sorted samples: blind to mirroring and flipping, not to inversion."""
    return sum(abs(x - y) for x, y in zip(sorted(a), sorted(b))) / len(a)


def start_server(korval, machine, port=0):
    server = subprocess.Popen([korval, "serve", "--port", str(port), "--scene", "moving", "--machine", machine],
                              stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)
    line = server.stdout.readline()
    match = re.match(r"serving (http://127\.0\.0\.1:\d+/)", line)
    if not match:
        server.kill()
        fail("korval serve did not start: " + line + server.stdout.read())
    return server, match.group(1)


def stop_server(server, stop_signal=signal.SIGINT):
    server.send_signal(stop_signal)
    try:
        output, _ = server.communicate(timeout=20)
    except subprocess.TimeoutExpired:
        server.kill()
        fail("korval serve did not stop on signal %d" % stop_signal)
    if server.returncode != 0 or "stopped: stream closed" not in output:
        fail("korval serve stopped badly (%d): %s" % (server.returncode, output))


def open_browser():
    options = webdriver.ChromeOptions()
    options.binary_location = CHROMIUM
    for argument in ("--headless=new", "--no-sandbox", "--disable-gpu", "--disable-dev-shm-usage",
                     "--window-size=1400,1400", "--no-first-run", "--disable-extensions",
                     "--disable-background-networking", "--disable-component-update"):
        options.add_argument(argument)
    options.set_capability("goog:loggingPrefs", {"browser": "ALL"})
    return webdriver.Chrome(service=Service(CHROMEDRIVER), options=options)


def check_page(browser, url, screenshot):
    browser.get(url)
    WebDriverWait(browser, 20).until(lambda b: b.find_element(By.TAG_NAME, "body").get_attribute("data-ready"))
    sample = lambda: browser.execute_script(SAMPLE_PICTURE)
    first = wait_until("the live picture shows", sample)
    wait_until("the live picture changes between two reads", lambda: sample()["thumb"] != first["thumb"])

    Select(browser.find_element(By.ID, "scene")).select_by_value("chart")
    before = settled_mean(sample, lambda mean: True)
    upright = sample()["thumb"]
    slider = browser.find_element(By.ID, "property-brightness")
    slider.send_keys(Keys.END)  # to the published maximum
    bright = settled_mean(sample, lambda mean: mean > before + 20, "brightness raises the mean")

    Select(browser.find_element(By.ID, "property-effect")).select_by_value("1")  # negative
    wait_until("the negative effect inverts the picture",
               lambda: abs(sample()["mean"] - (255 - bright)) < 15)
    negative = sample()["thumb"]

    check_restart_keeps_settings(browser, sample, bright)

    browser.find_element(By.ID, "defaults").click()
    wait_until("the defaults button restores the picture",
               lambda: (now := sample())["mean"] < bright - 10 and
               distribution_distance(now["thumb"], upright) < distribution_distance(now["thumb"], negative))
    restored = settled_mean(sample, lambda mean: True, "the defaults' picture settles")
    # Two settled pictures of one scene may differ by up to the band's width, never by the brightness step.
    if abs(restored - before) > AE_BAND_WIDTH:
        fail("Defaults gave a picture of mean %.1f, a fresh start %.1f, the brightest %.1f" %
             (restored, before, bright))

    browser.find_element(By.ID, "snapshot").click()
    wait_until("the snapshot shows a still", lambda: browser.execute_script(
        "const s = document.getElementById('still');"
        "return !document.getElementById('still-figure').hidden && s.complete && s.naturalWidth > 0;"))
    if browser.find_element(By.ID, "download").get_attribute("href") is None:
        fail("the still has no download link")
    Select(browser.find_element(By.ID, "property-overlay-frame")).select_by_value("1")  # the sample border
    wait_until("the border overlay frame shows", lambda: (edge := sample()["edge"])[2] > edge[0] + 60)
    browser.save_screenshot(screenshot)
    errors = [entry["message"] for entry in browser.get_log("browser") if entry["level"] == "SEVERE"]
    if errors:
        fail("the page logged errors: %s" % errors)
    print("live picture changes; mean %.1f -> %.1f with brightness, negative inverts it; defaults %.1f; "
          "still shown" % (before, bright, restored))


def page_state(browser):
    return "page message %r, size selected %s, picture %s wide" % (
        browser.find_element(By.ID, "message").text, selected_size(browser),
        browser.execute_script("return document.getElementById('live').naturalWidth"))


def selected_size(browser):
    return browser.find_element(By.ID, "size").get_attribute("value")


def selected(browser, name):
    return browser.find_element(By.ID, "property-" + name).get_attribute("value")


def check_restart_keeps_settings(browser, sample, bright):
    """Another size restarts the stream: the negative effect and the brightness stay, in the picture and on the page.
    A state asked for before the choice and answered after it does not move the size back."""
    browser.execute_script(HOLD_STATE_ANSWERS)
    held = lambda: browser.execute_script("return window.heldStates.length")
    wait_until("the page asks for a state", lambda: held() == 1)
    Select(browser.find_element(By.ID, "size")).select_by_value("176x144")
    wait_until("the stream restarts at 176x144", lambda: browser.execute_script(
        "return document.getElementById('live').naturalWidth") == 176)
    browser.execute_script("refreshState(); window.heldStates[0]();")
    wait_until("the page has taken the older state and asks again", lambda: held() == 2)
    if selected_size(browser) != "176x144":
        fail("a state older than the choice moved the size back to %s" % selected_size(browser))
    browser.execute_script("window.fetch = window.sendRequest; window.heldStates[1]();")
    wait_until("the restarted picture is still the negative", lambda: abs(sample()["mean"] - (255 - bright)) < 25)
    if selected(browser, "effect") != "1":
        fail("after the restart the page shows effect %s, not the negative" % selected(browser, "effect"))
    if int(browser.find_element(By.ID, "property-brightness").get_attribute("value")) <= 255:
        fail("after the restart the page shows the brightness back at its default")
    Select(browser.find_element(By.ID, "size")).select_by_value("352x288")
    wait_until("the stream restarts at 352x288", lambda: browser.execute_script(
        "return document.getElementById('live').naturalWidth") == 352, state=lambda: page_state(browser))


def check_pages_in_step(browser, url):
    """A change in a second page shows in the first without reloading it."""
    first = browser.current_window_handle
    browser.switch_to.new_window("window")
    browser.get(url)
    WebDriverWait(browser, 20).until(lambda b: b.find_element(By.TAG_NAME, "body").get_attribute("data-ready"))
    Select(browser.find_element(By.ID, "property-effect")).select_by_value("12")  # sepia
    second = browser.current_window_handle
    browser.switch_to.window(first)
    wait_until("the first page shows the second page's change", lambda: selected(browser, "effect") == "12")
    Select(browser.find_element(By.ID, "property-effect")).select_by_value("0")
    browser.switch_to.window(second)
    wait_until("the second page shows the first page's change", lambda: selected(browser, "effect") == "0")
    browser.close()
    browser.switch_to.window(first)


def dribble(url):
    """A client that has sent part of a request and keeps the connection open."""
    host, port = re.match(r"http://([^:/]+):(\d+)/", url).groups()
    client = socket.create_connection((host, int(port)))
    client.sendall(b"GET /api/state HTTP/1.1\r\nHo")
    return client


def check_stopped_server_shown(browser, servers, korval, machine, url, output):
    """SIGTERM stops the server though a client dribbles; the page says the camera is gone, and comes back with it."""
    errors = [entry["message"] for entry in browser.get_log("browser") if entry["level"] == "SEVERE"]
    if errors:
        fail("the page logged errors: %s" % errors)
    slow = dribble(url)
    stop_server(servers[-1], signal.SIGTERM)
    slow.close()
    body = lambda: browser.find_element(By.TAG_NAME, "body")
    message = lambda: browser.find_element(By.ID, "message").text
    stopped = time.monotonic()
    # The page learns it from its event stream's end at once; the bound is for a hang.
    wait_until("the page says the camera is gone", lambda: body().get_attribute("data-camera") == "gone" and
               "gone" in message(), timeout=60,
               state=lambda: "data-camera %s, message %r" % (body().get_attribute("data-camera"), message()))
    print("the page said the camera is gone %.1f s after the server stopped" % (time.monotonic() - stopped))
    browser.save_screenshot(os.path.join(output, "serve-gone.png"))
    port = int(re.search(r":(\d+)/", url).group(1))
    servers.append(start_server(korval, machine, port)[0])
    wait_until("the page reconnects", lambda: body().get_attribute("data-camera") == "here", timeout=30)
    sample = lambda: browser.execute_script(SAMPLE_PICTURE)
    first = wait_until("the live picture is back", sample)
    wait_until("the live picture moves again", lambda: (now := sample()) and now["thumb"] != first["thumb"])


def main():
    if len(sys.argv) != 3:
        print("usage: serve_page_test.py KORVAL OUTPUT_DIR")
        return 2
    korval, output = sys.argv[1], sys.argv[2]
    if not (os.access(CHROMIUM, os.X_OK) and os.access(CHROMEDRIVER, os.X_OK)):
        print("skipped: chromium or chromium-driver is not installed")
        return SKIP
    global webdriver, Service, By, Keys, Select, WebDriverWait
    try:
        from selenium import webdriver
        from selenium.webdriver.chrome.service import Service
        from selenium.webdriver.common.by import By
        from selenium.webdriver.common.keys import Keys
        from selenium.webdriver.support.ui import Select, WebDriverWait
    except ImportError:
        print("failed: chromium is here but python3-selenium is not (scripts/install-deps.sh installs it)")
        return 1
    os.makedirs(output, exist_ok=True)
    screenshot = os.path.join(output, "serve.png")
    machine = tempfile.mkdtemp(prefix="korval-browser-")
    server, url = start_server(korval, machine)
    servers = [server]
    try:
        browser = open_browser()
        try:
            check_page(browser, url, screenshot)
            check_pages_in_step(browser, url)
            check_stopped_server_shown(browser, servers, korval, machine, url, output)
        finally:
            browser.quit()
    finally:
        for running in servers:
            if running.poll() is None:
                stop_server(running)
        shutil.rmtree(machine, ignore_errors=True)
    print("screenshot: " + screenshot)
    return 0


if __name__ == "__main__":
    sys.exit(main())
