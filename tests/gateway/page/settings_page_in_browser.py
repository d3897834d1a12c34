#!/usr/bin/python3
"""The gateway's settings page as a person uses it, in Chromium: choose a provider, type a key,
preview a place against a stand-in provider, save, and get that provider's picture the way the
program asks for one. Then a page from another origin tries to save, preview and read the
settings, and gets nothing.

    settings_page_in_browser.py --gateway PATH --providers PATH [--screenshot PNG]

Exits 0 when every check holds; otherwise prints what failed and exits 1. A missing browser is a
failure too: scripts/setup installs chromium, chromium-driver and python3-selenium."""

import argparse
import http.server
import os
import re
import shutil
import socket
import stat
import subprocess
import sys
import tempfile
import threading
import time
import urllib.error
import urllib.parse
import urllib.request

CHROMIUM = "/usr/bin/chromium"
CHROMEDRIVER = "/usr/bin/chromedriver"
KEY = "pk-test-5e3c11a9b2d47f08"
USER_TEXT = (
    "# My own note about this file: keep it.\n"
    "[gateway]\n"
    "source = demo\n"
    "# key = \n"
    "favourite_colour = green\n"
)


class Failure(Exception):
    pass


def check(condition, what):
    if not condition:
        raise Failure(what)


def start(command, log, env):
    """Starts one of our servers and reads the address from its first line."""
    process = subprocess.Popen(command, stdout=subprocess.PIPE, stderr=open(log, "wb"), env=env, text=True)
    line = process.stdout.readline()
    match = re.match(r"listening on (http://127\.0\.0\.1:\d+)", line)
    if not match:
        process.kill()
        raise Failure(f"{command[0]} did not start: {line!r}; log: {open(log).read()}")
    return process, match.group(1)


def read_log(path):
    with open(path, encoding="utf-8", errors="replace") as f:
        return f.read()


def wait_for(what, condition, seconds=20):
    deadline = time.monotonic() + seconds
    while time.monotonic() < deadline:
        result = condition()
        if result:
            return result
        time.sleep(0.1)
    raise Failure(f"timed out waiting for {what}")


def browser(profile):
    try:
        from selenium import webdriver
        from selenium.webdriver.chrome.service import Service
    except ImportError:
        raise Failure(f"python3-selenium is missing for {sys.executable}: run scripts/setup")
    for path in (CHROMIUM, CHROMEDRIVER):
        check(os.access(path, os.X_OK), f"{path} is missing: run scripts/setup")
    options = webdriver.ChromeOptions()
    options.binary_location = CHROMIUM
    # Root in a container without a network: no sandbox, no GPU, nothing fetched in the background.
    for flag in ("--headless", "--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run",
                 "--disable-background-networking", "--disable-component-update", "--disable-sync",
                 "--disable-dev-shm-usage", "--hide-scrollbars", "--window-size=1000,1400", f"--user-data-dir={profile}"):
        options.add_argument(flag)
    return webdriver.Chrome(service=Service(executable_path=CHROMEDRIVER), options=options)


def png_size(data):
    check(data[:8] == b"\x89PNG\r\n\x1a\n", "the picture is not a PNG")
    return int.from_bytes(data[16:20], "big"), int.from_bytes(data[20:24], "big")


def as_the_program(gateway, search):
    """The page request, then the picture it points at, without the headers a browser adds."""
    page = urllib.request.urlopen(f"{gateway}/maps?f=q&q={urllib.parse.quote(search)}&zoom=5", timeout=30).read()
    reference = re.search(rb"<img src=(\S+)", page)
    check(reference, f"no picture on the program's page: {page!r}")
    answer = urllib.request.urlopen(reference.group(1).decode(), timeout=30)
    return answer.status, answer.read()


class AttackerPage(http.server.BaseHTTPRequestHandler):
    html = b""

    def do_GET(self):
        self.send_response(200)
        self.send_header("Content-Type", "text/html; charset=utf-8")
        self.end_headers()
        self.wfile.write(self.html)

    def log_message(self, *args):
        pass


def attacker_html(gateway):
    return f"""<!DOCTYPE html><html><head><title>attack</title></head><body>
<iframe name="sink"></iframe>
<form id="save" method="post" action="{gateway}/settings" target="sink">
<input name="token" value="guessed"><input name="source" value="static"><input name="key" value="attacker">
<input name="action" value="save"></form>
<img src="{gateway}/" alt="">
<img src="{gateway}/settings?action=preview&source=static&place=Attack%20Img" alt="">
<script>
document.getElementById('save').submit();
fetch('{gateway}/settings', {{method: 'POST', mode: 'no-cors',
    headers: {{'Content-Type': 'application/x-www-form-urlencoded'}},
    body: 'token=guessed&source=static&place=Attack%20Fetch&action=preview'}})
  .then(() => document.title += ' post-sent', () => document.title += ' post-failed');
fetch('{gateway}/').then(r => r.text()).then(t => document.title += ' read:' + t.length,
                                              () => document.title += ' read-failed');
</script></body></html>""".encode()


def run(args, scratch):
    env = dict(os.environ, HOME=f"{scratch}/home", XDG_CONFIG_HOME=f"{scratch}/home/.config",
               XDG_CACHE_HOME=f"{scratch}/cache", QT_QPA_PLATFORM="offscreen")
    os.makedirs(env["HOME"], exist_ok=True)
    providers, provider_base = start([args.providers, "--port", "0", "--key", KEY], f"{scratch}/providers.log", env)
    processes = [providers]
    try:
        config = f"{scratch}/home/.config/orrowdale/gateway.conf"
        os.makedirs(os.path.dirname(config))
        with open(config, "w") as f:
            f.write(USER_TEXT)
        os.chmod(config, 0o644)
        gateway_process, gateway = start([args.gateway, "--port", "0", "--config", config],
                                         f"{scratch}/gateway.log", env)
        processes.append(gateway_process)

        driver = browser(f"{scratch}/profile")
        try:
            driver.get(f"{gateway}/")
            # A provider that finds the place with its geocoder, then draws it; its server is the stand-in.
            driver.find_element("css selector", "label[for=source-maptiler]").click()
            driver.find_element("id", "key").send_keys(KEY)
            driver.find_element("id", "server").send_keys(provider_base)
            place = driver.find_element("id", "place")
            place.clear()
            place.send_keys("Haverhill MA")
            before = open(config, "rb").read()
            driver.find_element("css selector", "button[value=preview]").click()
            picture = wait_for("the preview", lambda: driver.find_elements("id", "preview"))[0]
            check(driver.execute_script("return arguments[0].naturalWidth", picture) == 640,
                  "the preview picture did not load")
            check(re.search(r"GET /geocoding/Haverhill%20MA\.json.*\n.*GET /maps/streets-v2/static/",
                            read_log(f"{scratch}/providers.log")), "the preview did not ask the provider")
            check(open(config, "rb").read() == before, "previewing changed the file")
            if args.screenshot:
                os.makedirs(os.path.dirname(args.screenshot), exist_ok=True)
                height = driver.execute_script("return document.documentElement.scrollHeight")
                driver.set_window_size(1000, height + 120)
                driver.save_screenshot(args.screenshot)

            driver.find_element("css selector", "button[value=save]").click()
            saved = wait_for("the saved message", lambda: driver.find_elements("css selector", "p.done"))[0]
            check("Saved" in saved.text, f"not saved: {saved.text}")
            text = open(config).read()
            for line in ("# My own note about this file: keep it.", "favourite_colour = green", "source = maptiler",
                         f"key = {KEY}", "# key = ", f"server = {provider_base}"):
                check(line in text.splitlines(), f"the saved file lacks {line!r}:\n{text}")
            check(stat.S_IMODE(os.stat(config).st_mode) == 0o600, "the saved file is not private (0600)")
            check(KEY not in driver.page_source and f"ending in \u201c{KEY[-4:]}\u201d" in driver.page_source,
                  "the page shows the saved key, or not its end")

            # The program's requests now draw from the provider.
            status, data = as_the_program(gateway, "Bradford MA")
            check(status == 200 and png_size(data) == (640, 640), "no picture for the program")
            check("GET /geocoding/Bradford%20MA.json" in read_log(f"{scratch}/providers.log"),
                  "the program's picture did not come from the provider")

            # Another origin on this computer tries to save, preview and read.
            attacker = http.server.ThreadingHTTPServer(("127.0.0.1", 0), AttackerPage)
            AttackerPage.html = attacker_html(gateway)
            threading.Thread(target=attacker.serve_forever, daemon=True).start()
            saved_text = open(config, "rb").read()
            asked = read_log(f"{scratch}/providers.log").count("GET /")
            refused_before = read_log(f"{scratch}/gateway.log").count(" 403 ")
            driver.get(f"http://127.0.0.1:{attacker.server_address[1]}/")
            wait_for("the attacking page's fetches", lambda: "post-" in driver.title and "read" in driver.title)
            wait_for("the gateway's refusals", lambda: read_log(f"{scratch}/gateway.log").count(" 403 ")
                     >= refused_before + 4, 10)
            attacker.shutdown()
            check("read-failed" in driver.title, f"another origin read the page: {driver.title}")
            check(open(config, "rb").read() == saved_text, "another origin changed the file")
            check(read_log(f"{scratch}/providers.log").count("GET /") == asked, "another origin spent the key")
        finally:
            driver.quit()
    finally:
        for process in processes:
            process.kill()
            process.wait()


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--gateway", required=True)
    parser.add_argument("--providers", required=True)
    parser.add_argument("--screenshot")
    args = parser.parse_args()
    scratch = tempfile.mkdtemp(prefix="orrowdale-page-")
    try:
        run(args, scratch)
    except Failure as failure:
        print(f"FAIL: {failure}", file=sys.stderr)
        for log in ("gateway.log", "providers.log"):
            if os.path.exists(f"{scratch}/{log}"):
                print(f"--- {log}\n{read_log(f'{scratch}/{log}')[-4000:]}", file=sys.stderr)
        return 1
    finally:
        shutil.rmtree(scratch, ignore_errors=True)
    print("settings page: preview, save, the program's picture, and another origin refused")
    return 0


if __name__ == "__main__":
    sys.exit(main())
