"""The stand-in service's repair command in the fault-injection run (--repair-command).

A replay whose bytes carry "UNREPAIRABLE" cannot be repaired (exit 3: the service answers 400);
any other comes back with "REPAIRED:" in front, so a repaired file is told apart from its
original by its bytes.
"""
import sys

data = sys.stdin.buffer.read()
if b"UNREPAIRABLE" in data:
    sys.exit(3)
sys.stdout.buffer.write(b"REPAIRED:" + data)
