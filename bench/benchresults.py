"""Reading the load tool's RESULT lines that scripts/bench.sh keeps, for its tables."""
import os


class Results:
    """The results directory of one benchmark run."""

    def __init__(self, directory):
        self.directory = directory

    def load(self, label):
        """The fields of LABEL.1.kv as texts; empty when the run left none."""
        path = os.path.join(self.directory, f"{label}.1.kv")
        if not os.path.exists(path):
            return {}
        with open(path) as f:
            return dict(item.partition("=")[::2] for item in f.read().split()[1:])


def num(fields, key):
    """The field as a number, or None when it is missing or no number."""
    try:
        return float(fields[key])
    except (KeyError, TypeError, ValueError):
        return None


def heading(lines, header):
    """A table's title lines after a blank line, its column header and a rule."""
    print()
    for line in lines:
        print(line)
    print(header)
    print("-" * len(header))
