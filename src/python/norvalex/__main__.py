"""python3 -m norvalex plot IN OUT.png: draws a field map's magnitude over its grid and its
field on the axis into OUT.png; of a 3-D map, over its plane y = 0 (the middle y plane where y
has no point at 0)."""

import sys

import norvalex


def main(argv):
    if len(argv) < 3 or argv[0] != "plot":
        print("usage: python3 -m norvalex plot IN OUT.png [--field electric|magnetic] "
              "[--planar] [--frequency HZ]", file=sys.stderr)
        return 2
    source, target = argv[1], argv[2]
    options = {}
    rest = argv[3:]
    while rest:
        option = rest.pop(0)
        if option == "--planar":
            options["geometry"] = "rectangular"
        elif option in ("--field", "--frequency") and rest:
            value = rest.pop(0)
            if option == "--frequency":
                try:
                    value = float(value)
                except ValueError:
                    print(f"norvalex plot: --frequency needs a number of Hz, not {value!r}",
                          file=sys.stderr)
                    return 2
            options[option[2:]] = value
        elif option in ("--field", "--frequency"):
            print(f"norvalex plot: {option} needs a value", file=sys.stderr)
            return 2
        else:
            print(f"norvalex plot: unknown option {option}", file=sys.stderr)
            return 2
    try:
        mesh = norvalex.read_mesh(source, **options)
        mesh.plot(target)
    except (norvalex.Error, OSError, ValueError, RuntimeError) as error:
        print(f"norvalex plot: Error: {error}", file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
