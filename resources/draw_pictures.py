#!/usr/bin/python3
"""Draws the tile pictures, the two pulsing animations and the logo.

Run from anywhere: /usr/bin/python3 resources/draw_pictures.py
The build only compiles the results in; run this again after changing a colour.
"""
import os
from PIL import Image, ImageDraw, ImageFont

HERE = os.path.dirname(os.path.abspath(__file__))
W, H = 70, 60

BODIES = {
    "gray": (150, 150, 150),
    "green": (40, 170, 60),
    "yellow": (240, 200, 20),
    "red": (220, 30, 30),
}


def battery(body, background=(0, 0, 0, 0)):
    """A 70 x 60 battery: rounded body, light grey lid, pink left and light blue right caps."""
    img = Image.new("RGBA", (W, H), background)
    d = ImageDraw.Draw(img)
    # terminal caps
    d.rounded_rectangle((12, 1, 24, 8), radius=2, fill=(240, 150, 180), outline=(120, 80, 90))
    d.rounded_rectangle((46, 1, 58, 8), radius=2, fill=(150, 200, 240), outline=(70, 100, 130))
    # lid
    d.rounded_rectangle((3, 6, 66, 15), radius=3, fill=(215, 215, 215), outline=(110, 110, 110))
    # body
    d.rounded_rectangle((5, 14, 64, 58), radius=5, fill=body + (255,), outline=(70, 70, 70), width=1)
    # a soft highlight down the left side
    light = tuple(min(255, c + 45) for c in body)
    d.rounded_rectangle((8, 17, 13, 55), radius=2, fill=light + (255,))
    return img


def pale(color, step, steps):
    """Fades a saturated colour towards white: step 0 saturated, the last step pale."""
    t = step / (steps - 1) * 0.75
    return tuple(int(c + (255 - c) * t) for c in color)


def animation(name, color):
    frames = []
    for i in range(6):
        frame = battery(pale(color, i, 6), background=(255, 255, 255, 255)).convert("RGB")
        # The encoder stores only the changed rectangle of a frame; two corner pixels that
        # differ invisibly from frame to frame keep every frame full size (70 x 60 at 0,0).
        shade = (255, 255, 255) if i % 2 == 0 else (254, 254, 254)
        frame.putpixel((0, 0), shade)
        frame.putpixel((W - 1, H - 1), shade)
        frames.append(frame.convert("P", palette=Image.ADAPTIVE, colors=64))
    frames[0].save(os.path.join(HERE, name), save_all=True, append_images=frames[1:],
                   duration=10, loop=0, disposal=3, optimize=False)


def logo():
    img = Image.new("RGB", (360, 180), (255, 255, 255))
    d = ImageDraw.Draw(img)
    d.rounded_rectangle((8, 8, 352, 172), radius=18, fill=(20, 60, 120))
    # three cells of a battery string
    for i, c in enumerate([(40, 170, 60), (240, 200, 20), (220, 30, 30)]):
        x = 36 + i * 64
        d.rounded_rectangle((x, 44, x + 50, 136), radius=6, fill=c, outline=(255, 255, 255), width=3)
        d.rectangle((x + 16, 34, x + 34, 44), fill=(255, 255, 255))
    # a lightning bolt
    d.polygon([(270, 30), (236, 96), (262, 96), (246, 152), (306, 76), (278, 76), (300, 30)],
              fill=(255, 220, 60))
    img.save(os.path.join(HERE, "LOGO.jpg"), quality=92)


def icon():
    """The desktop icon: the red battery on a blue rounded square, 256 x 256."""
    img = Image.new("RGBA", (256, 256), (0, 0, 0, 0))
    d = ImageDraw.Draw(img)
    d.rounded_rectangle((4, 4, 252, 252), radius=40, fill=(20, 60, 120, 255))
    cell = battery(BODIES["red"]).resize((210, 180), Image.NEAREST)
    img.alpha_composite(cell, (23, 38))
    img.save(os.path.join(HERE, "..", "packaging", "orvik-monitor.png"))


if __name__ == "__main__":
    for name, color in BODIES.items():
        battery(color).save(os.path.join(HERE, "Batt_%s.png" % name))
    animation("Batt_red_gif.gif", BODIES["red"])
    animation("Batt_yellow_gif.gif", BODIES["yellow"])
    logo()
    icon()
