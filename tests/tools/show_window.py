#!/usr/bin/python3
"""Shows an image (or a plain colour) in a real top-level X11 window until killed.

Run with Debian's /usr/bin/python3 (tkinter and Pillow). Once the window is mapped (or
iconified, with --iconic) it prints its client window id as "0x..." on one line of
standard output, so a caller can wait for that line and then look the window up:

  show_window.py --title "Zoom Meeting" --class zoom.us --geometry 1280x720+40+30 \
                 --image gallery.png

--title-hex sets raw title bytes (invalid UTF-8, newlines) instead of --title, through
xdotool; --title-file reads the title bytes from a file (for titles too long for argv).
The image is scaled to the window size. SIGTERM closes the window and exits 0. With
--also-image (repeatable), SIGUSR1 shows the next of the images in turn (video frames).
"""
import argparse
import base64
import io
import re
import signal
import subprocess
import sys
import tkinter as tk

from PIL import Image


def parse_geometry(s):
    m = re.fullmatch(r"(\d+)x(\d+)([+-]\d+)([+-]\d+)", s)
    if not m:
        raise argparse.ArgumentTypeError("geometry must look like WxH+X+Y")
    return tuple(int(g) for g in m.groups())


def wrapper_id(tk_root):
    # Tk draws into an inner window; the window manager manages its parent (the wrapper).
    inner = hex(tk_root.winfo_id())
    out = subprocess.run(["xwininfo", "-children", "-id", inner], capture_output=True,
                         text=True, check=True).stdout
    return re.search(r"Parent window id: (0x[0-9a-fA-F]+)", out).group(1)


def set_raw_name(win, raw):
    # xdotool writes the bytes as given to both WM_NAME and _NET_WM_NAME.
    subprocess.run([b"xdotool", b"set_window", b"--name", raw, win.encode()], check=True)


def main():
    ap = argparse.ArgumentParser(description=__doc__,
                                 formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument("--title", default="show_window")
    ap.add_argument("--title-hex", help="title bytes in hex (overrides --title)")
    ap.add_argument("--title-file", help="file holding the title bytes (overrides --title)")
    ap.add_argument("--class", dest="wm_class", default="ShowWindow",
                    help="WM_CLASS class part (the instance part is its lower case)")
    ap.add_argument("--geometry", type=parse_geometry, default=(640, 480, 0, 0))
    ap.add_argument("--image", help="image file shown scaled to the window")
    ap.add_argument("--also-image", action="append", default=[],
                    help="further images; SIGUSR1 shows the next one")
    ap.add_argument("--color", default="#336699", help="background without --image")
    ap.add_argument("--iconic", action="store_true", help="iconify right after mapping")
    args = ap.parse_args()

    w, h, x, y = args.geometry
    root = tk.Tk(className=args.wm_class)
    root.title(args.title)
    root.geometry(f"{w}x{h}{x:+d}{y:+d}")
    root.configure(background=args.color, borderwidth=0, highlightthickness=0)
    if args.image:
        def photo_of(path):
            img = Image.open(path).convert("RGB").resize((w, h), Image.LANCZOS)
            buf = io.BytesIO()
            img.save(buf, format="PNG")
            return tk.PhotoImage(data=base64.b64encode(buf.getvalue()))
        photos = [photo_of(p) for p in [args.image] + args.also_image]
        label = tk.Label(root, image=photos[0], borderwidth=0, highlightthickness=0)
        label.place(x=0, y=0, width=w, height=h)
        shown = [0]

        def next_image():
            shown[0] = (shown[0] + 1) % len(photos)
            label.configure(image=photos[shown[0]])
        signal.signal(signal.SIGUSR1, lambda *_: root.after(0, next_image))

    signal.signal(signal.SIGTERM, lambda *_: root.after(0, root.destroy))
    # Let Python see the signal while Tk waits for events.
    def tick():
        root.after(100, tick)
    tick()

    while not root.winfo_viewable():
        root.update()
    win = wrapper_id(root)
    # Tk capitalises the class; set exactly what was asked.
    subprocess.run(["xdotool", "set_window", "--class", args.wm_class,
                    "--classname", args.wm_class.lower(), win], check=True)
    if args.title_hex is not None:
        set_raw_name(win, bytes.fromhex(args.title_hex))
    elif args.title_file is not None:
        with open(args.title_file, "rb") as f:
            set_raw_name(win, f.read())
    if args.iconic:
        root.iconify()
        while root.state() != "iconic" or root.winfo_viewable():
            root.update()
    # Let pending drawing reach the server before anyone looks.
    root.update()
    print(win, flush=True)
    root.mainloop()
    return 0


if __name__ == "__main__":
    sys.exit(main())
