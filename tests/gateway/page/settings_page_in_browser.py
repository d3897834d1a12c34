#!/usr/bin/python3
"""The settings page as a person uses it, in Chromium: choose a provider, type a key, preview a
place against the stand-in provider, save, and get that provider's picture the way the program
asks for one; then a page from another origin tries to save, preview and read, and gets nothing.
A missing browser is a failure: scripts/setup installs chromium, chromium-driver, python3-selenium.

    settings_page_in_browser.py --gateway PATH --providers PATH [--screenshot PNG]"""

import argparse
import functools
import http.server
import os
import re
import stat
import subprocess
import sys
import tempfile
import threading
import time
import urllib.parse
import urllib.request

KEY = "pk-test-5e3c11a9b2d47f08"
USER_TEXT = "# My own note about this file: keep it.\n[gateway]\nsource = demo\n# key = \nfavourite_colour = green\n"
ATTACK = """<!DOCTYPE html><html><head><title>attack</title></head><body><iframe name="sink"></iframe>
<form id="save" method="post" action="{g}/settings" target="sink"><input name="token" value="guessed">
<input name="source" value="maptiler"><input name="key" value="attacker"><input name="action" value="save"></form>
<img src="{g}/" alt=""><img src="{g}/settings?action=preview&place=Attack%20Img" alt="">
<img src="{g}/mapdata?q=Attack%20Map&zl=4" alt=""><img src="{g}/mapdata?q=Attack%20Map&zl=4&t=guessed" alt="">
<script>
document.getElementById('save').submit();
fetch('{g}/settings', {{method: 'POST', mode: 'no-cors', headers: {{'Content-Type': 'application/x-www-form-urlencoded'}},
                        body: 'token=guessed&source=maptiler&place=Attack%20Fetch&action=preview'}})
  .then(() => document.title += ' post-sent', () => document.title += ' post-failed');
fetch('{g}/').then(r => r.text()).then(t => document.title += ' read:' + t.length, () => document.title += ' read-failed');
</script></body></html>"""


class Failure(Exception):
    pass


def check(condition, what):
    if not condition:
        raise Failure(what)


def wait_for(what, condition, seconds=20):
    deadline = time.monotonic() + seconds
    while time.monotonic() < deadline:
        if result := condition():
            return result
        time.sleep(0.1)
    raise Failure(f"timed out waiting for {what}")


def start(command, log, env):
    """One of our servers, and the address from its first line."""
    process = subprocess.Popen(command, stdout=subprocess.PIPE, stderr=open(log, "wb"), env=env, text=True)
    line = process.stdout.readline()
    check(re.match(r"listening on http://127\.0\.0\.1:\d+$", line.strip()), f"{command[0]} did not start: {line!r}")
    return process, line.split()[-1]


def browser(profile):
    try:
        from selenium import webdriver
        from selenium.webdriver.chrome.service import Service
    except ImportError:
        raise Failure(f"python3-selenium is missing for {sys.executable}: run scripts/setup")
    for path in ("/usr/bin/chromium", "/usr/bin/chromedriver"):
        check(os.access(path, os.X_OK), f"{path} is missing: run scripts/setup")
    options = webdriver.ChromeOptions()
    options.binary_location = "/usr/bin/chromium"
    # Root in a container without a network: no sandbox, no GPU, nothing fetched in the background.
    for flag in ("--headless", "--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run",
                 "--disable-background-networking", "--disable-component-update", "--disable-sync",
                 "--disable-dev-shm-usage", "--hide-scrollbars", "--window-size=1000,1400", f"--user-data-dir={profile}"):
        options.add_argument(flag)
    return webdriver.Chrome(service=Service(executable_path="/usr/bin/chromedriver"), options=options)


def run(args, scratch, processes):
    env = dict(os.environ, HOME=f"{scratch}/home", XDG_CONFIG_HOME=f"{scratch}/home/.config",
               XDG_CACHE_HOME=f"{scratch}/cache", QT_QPA_PLATFORM="offscreen")
    config = f"{scratch}/home/.config/orrowdale/gateway.conf"
    os.makedirs(os.path.dirname(config))
    with open(config, "w") as f:
        f.write(USER_TEXT)
    os.chmod(config, 0o644)
    providers_log, gateway_log = f"{scratch}/providers.log", f"{scratch}/gateway.log"
    provider, provider_base = start([args.providers, "--port", "0", "--key", KEY], providers_log, env)
    processes.append(provider)
    gateway_process, gateway = start([args.gateway, "--port", "0", "--config", config], gateway_log, env)
    processes.append(gateway_process)
    asked = lambda: open(providers_log, errors="replace").read()
    refused = lambda: open(gateway_log, errors="replace").read().count(" 403 ")
    file_bytes = lambda: open(config, "rb").read()

    driver = browser(f"{scratch}/profile")
    try:
        driver.get(f"{gateway}/")
        # A provider that finds the place with its geocoder, then draws it; its server is the stand-in.
        driver.find_element("css selector", "label[for=source-maptiler]").click()
        driver.find_element("id", "key").send_keys(KEY)
        driver.find_element("id", "server").send_keys(provider_base)
        before = file_bytes()
        driver.find_element("css selector", "button[value=preview]").click()
        picture = wait_for("the preview", lambda: driver.find_elements("id", "preview"))[0]
        check(driver.execute_script("return arguments[0].naturalWidth", picture) == 640, "no preview picture")
        check(re.search(r"GET /geocoding/Haverhill%20MA\.json.*\n.*GET /maps/streets-v2/static/", asked()),
              "the preview did not ask the provider")
        check(file_bytes() == before, "previewing changed the file")
        if args.screenshot:
            os.makedirs(os.path.dirname(args.screenshot), exist_ok=True)
            driver.set_window_size(1000, driver.execute_script("return document.documentElement.scrollHeight") + 120)
            driver.save_screenshot(args.screenshot)

        driver.find_element("css selector", "button[value=save]").click()
        saved = wait_for("the saved message", lambda: driver.find_elements("css selector", "p.done"))[0]
        check("Saved" in saved.text, f"not saved: {saved.text}")
        lines = open(config).read().splitlines()
        for line in (*USER_TEXT.splitlines()[:1], "favourite_colour = green", "# key = ", "source = maptiler",
                     f"key = {KEY}", f"server = {provider_base}"):
            check(line in lines, f"the saved file lacks {line!r}: {lines}")
        check(stat.S_IMODE(os.stat(config).st_mode) == 0o600, "the saved file is not private (0600)")
        check(KEY not in driver.page_source and f"ending in \u201c{KEY[-4:]}\u201d" in driver.page_source,
              "the page shows the saved key, or not its end")

        # The program's page request, then the picture it points at, now from the provider.
        page = urllib.request.urlopen(f"{gateway}/maps?f=q&q=Bradford%20MA&zoom=5", timeout=30).read()
        reference = re.search(rb"<img src=(\S+)", page)
        check(reference, f"no picture on the program's page: {page!r}")
        data = urllib.request.urlopen(reference.group(1).decode(), timeout=30).read()
        check(data[:8] == b"\x89PNG\r\n\x1a\n" and data[16:24] == (640).to_bytes(4, "big") * 2, "no picture")
        check("GET /geocoding/Bradford%20MA.json" in asked(), "the program's picture is not the provider's")

        # Another origin on this computer tries to save, preview and read.
        folder = f"{scratch}/attacker"
        os.makedirs(folder)
        with open(f"{folder}/index.html", "w") as f:
            f.write(ATTACK.format(g=gateway))
        attacker = http.server.ThreadingHTTPServer(
            ("127.0.0.1", 0), functools.partial(http.server.SimpleHTTPRequestHandler, directory=folder))
        threading.Thread(target=attacker.serve_forever, daemon=True).start()
        saved_bytes, asked_before, refused_before = file_bytes(), asked(), refused()
        driver.get(f"http://127.0.0.1:{attacker.server_address[1]}/")
        wait_for("the attacking page's requests", lambda: "post-" in driver.title and "read" in driver.title)
        # The form, the script's post and read, and all four pictures reached the gateway and were refused.
        wait_for("the gateway's refusals", lambda: refused() >= refused_before + 7, 10)
        attacker.shutdown()
        check("read-failed" in driver.title, f"another origin read the page: {driver.title}")
        check(file_bytes() == saved_bytes, "another origin changed the file")
        check(asked() == asked_before, "another origin spent the key")
    finally:
        driver.quit()


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--gateway", required=True)
    parser.add_argument("--providers", required=True)
    parser.add_argument("--screenshot")
    args = parser.parse_args()
    processes = []
    with tempfile.TemporaryDirectory(prefix="orrowdale-page-") as scratch:
        try:
            run(args, scratch, processes)
        except Failure as failure:
            print(f"FAIL: {failure}", file=sys.stderr)
            for log in ("gateway.log", "providers.log"):
                if os.path.exists(f"{scratch}/{log}"):
                    print(f"--- {log}\n{open(f'{scratch}/{log}', errors='replace').read()[-4000:]}", file=sys.stderr)
            return 1
        finally:
            for process in processes:
                process.kill()
                process.wait()
    print("settings page: preview, save, the program's picture, and another origin refused")
    return 0


if __name__ == "__main__":
    sys.exit(main())
