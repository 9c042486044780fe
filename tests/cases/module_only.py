"""Lookups only at module level: nothing to point at, but the file fails."""
import os

CONFIG = {"home": os.environ["HOME"]}
PORT = CONFIG["port"]
