"""Velmora measured against the simulated robot: the pieces behind bench/bench.py."""
