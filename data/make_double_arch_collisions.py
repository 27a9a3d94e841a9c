#!/usr/bin/env python3
"""Writes DoubleArchJointCollisions.txt for the reference device.

Usage: make_double_arch_collisions.py > DoubleArchJointCollisions.txt
"""
import math
import sys

DEG = math.pi / 180.0
THETA_L1 = 53.130104064941406
THETA_L4 = 126.8698959350586
LENGTH_L3 = 24.0
WORKING_DISTANCE = 150.0
ELEVATION = 45.0 * DEG
PROJECTOR_BASELINE = 50.0
HOUSING_RADIUS = 45.0
HOUSING_BEHIND = -50.0
HOUSING_FRONT = 75.0

GRID_L1 = range(-160, 41, 25)
GRID_L2 = range(30, 151, 15)
GRID_L3 = range(-15, 151, 15)
GRID_L4 = (-40, 0, 40)
STEP_L5 = 5

HEADER = """\
DoubleArchJointCollisions.txt: the joint configurations at which a double-arch tray on the disc
of the reference device hits the housing of the camera or of the projector.

One record per line: L1 L2 L3 L4 L5min L5max (mm and degrees): at these L1 to L4 the tray
collides for every L5 in [L5min, L5max]. Numbers are separated by blanks, tabs, commas or
semicolons; '#' starts a comment (the interval file syntax, interfaces/AcquisitionPlanning.h).

Made by data/make_double_arch_collisions.py: on a grid of L1 to L4, and L5 in steps of 5 degrees,
the tray is posed with the reference device's kinematics (components/axischain/ReferenceDevice.h)
and its corners are tested against the housings. Tray (disc frame, mm; the disc's z axis points
into the disc): a body of 70 x 60 x 25 mm on the disc centre and a handle of 45 x 16 x 10 mm
reaching out along +x. Housings: a cylinder of radius 45 mm about each sensor's optical axis,
from 50 mm behind its eye to 75 mm in front of it, half the working distance.
"""


def dh(theta, d, a, alpha):
    t, al = theta * DEG, alpha * DEG
    ct, st, ca, sa = math.cos(t), math.sin(t), math.cos(al), math.sin(al)
    return [[ct, -st * ca, st * sa, a * ct], [st, ct * ca, -ct * sa, a * st], [0, sa, ca, d], [0, 0, 0, 1]]


def mul(x, y):
    return [[sum(x[r][k] * y[k][c] for k in range(4)) for c in range(4)] for r in range(4)]


def apply(m, p):
    return [m[r][0] * p[0] + m[r][1] * p[1] + m[r][2] * p[2] + m[r][3] for r in range(3)]


def sub(a, b):
    return [a[i] - b[i] for i in range(3)]


def dot(a, b):
    return sum(a[i] * b[i] for i in range(3))


def cross(a, b):
    return [a[1] * b[2] - a[2] * b[1], a[2] * b[0] - a[0] * b[2], a[0] * b[1] - a[1] * b[0]]


def unit(a):
    n = math.sqrt(dot(a, a))
    return [v / n for v in a]


def sensors():
    """Eye and view of camera and projector in the base frame."""
    e = WORKING_DISTANCE
    eye = [-0.8 * e * math.cos(ELEVATION), 0.6 * e * math.cos(ELEVATION), -e * math.sin(ELEVATION)]
    view = unit([-v for v in eye])
    up_camera_frame = [0.0, 0.0, 1.0]
    up = [up_camera_frame[0], -up_camera_frame[1], -up_camera_frame[2]]  # camera frame = (x, -y, -z) of base
    up = unit(sub(up, [dot(up, view) * v for v in view]))
    right = cross(view, up)
    projector_eye = [eye[i] + PROJECTOR_BASELINE * right[i] for i in range(3)]
    return [(eye, view), (projector_eye, unit([-v for v in projector_eye]))]


def tray_points():
    pts = []
    for x in (-35, 0, 35):
        for y in (-30, 30):
            for z in (0, -25):
                pts.append([x, y, z])
    for x in (35, 80):
        for y in (-8, 8):
            for z in (-5, -15):
                pts.append([x, y, z])
    return pts


def inside_housing(p, housings):
    for eye, view in housings:
        d = sub(p, eye)
        depth = dot(d, view)
        if HOUSING_BEHIND <= depth <= HOUSING_FRONT:
            lateral = dot(d, d) - depth * depth
            if lateral < HOUSING_RADIUS * HOUSING_RADIUS:
                return True
    return False


def colliding_runs(chain_to_l4, housings, points):
    hits = []
    for l5 in range(0, 360, STEP_L5):
        m = mul(chain_to_l4, dh(l5, 0, 0, 0))
        hits.append(any(inside_housing(apply(m, p), housings) for p in points))
    runs, start = [], None
    for i, hit in enumerate(hits + [False]):
        if hit and start is None:
            start = i
        elif not hit and start is not None:
            runs.append((start * STEP_L5, (i - 1) * STEP_L5))
            start = None
    return runs


def main(out):
    housings = sensors()
    points = tray_points()
    out.write(''.join('# ' + line + '\n' if line else '#\n' for line in HEADER.splitlines()))
    for l1 in GRID_L1:
        a1 = dh(THETA_L1, l1, 0, 90)
        for l2 in GRID_L2:
            a12 = mul(a1, dh(l2, 0, 0, 90))
            for l3 in GRID_L3:
                a123 = mul(a12, dh(l3, 0, LENGTH_L3, 90))
                for l4 in GRID_L4:
                    chain = mul(a123, dh(THETA_L4, l4, 0, 0))
                    for lo, hi in colliding_runs(chain, housings, points):
                        out.write('%d %d %d %d %d %d\n' % (l1, l2, l3, l4, lo, hi))


if __name__ == '__main__':
    main(sys.stdout)
