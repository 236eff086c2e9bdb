"""The end of every outside check: its failures, one line each, a count, and the exit status."""


def report(failures):
    """Prints each failure and their number; returns the exit status (1 when any failed)."""
    for f in failures:
        print("FAIL:", f)
    print(f"{len(failures)} failure(s)")
    return 1 if failures else 0
