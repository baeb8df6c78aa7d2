"""Velmora measured against the simulated robot: the pieces behind bench/bench.py."""
import os
import time

BENCH = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
ROOT = os.path.dirname(BENCH)


def log(*args):
    print(time.strftime("%H:%M:%S"), *args, flush=True)
