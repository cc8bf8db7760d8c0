"""Serves a study's output folder on this machine only, for the 3D QC views: browsers do not let
a page opened from the file system read the volumes and tracks beside it."""
import argparse
import functools
import http.server
import sys


class QuietHandler(http.server.SimpleHTTPRequestHandler):
    """Reports only the requests that failed (send_error logs those), which is what someone
    looking at a view needs."""

    def log_request(self, code="-", size="-"):
        pass


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("folder")
    parser.add_argument("--port", type=int, default=0, help="0: a free port")
    parser.add_argument("--page", default="group/index.html")
    args = parser.parse_args()
    handler = functools.partial(QuietHandler, directory=args.folder)
    try:
        server = http.server.ThreadingHTTPServer(("127.0.0.1", args.port), handler)
    except OSError as error:
        print(f"cannot serve on 127.0.0.1 port {args.port}: {error.strerror}", file=sys.stderr)
        return 1
    port = server.server_address[1]
    # Flushed, so that whoever started this in the background can read the address at once.
    print(f"Serving {args.folder} at http://127.0.0.1:{port}/{args.page} (Ctrl-C to stop)",
          flush=True)
    try:
        server.serve_forever()
    except KeyboardInterrupt:
        pass
    finally:
        server.server_close()
    return 0


if __name__ == "__main__":
    sys.exit(main())
