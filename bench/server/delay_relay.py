#!/usr/bin/env python3
"""A TCP relay on loopback that holds every chunk DELAY ms in each direction.

With --delay-ms 25 a client connecting through the relay sees the server 50 ms
away (round trip), on top of loopback's own. Prints the port it listens on as its
first line, then relays until killed.
"""
import argparse
import asyncio
import time


async def pipe(reader, writer, delay):
    """Copies reader to writer, each chunk written `delay` seconds after it was read."""
    queue = asyncio.Queue()

    async def pump_in():
        try:
            while True:
                data = await reader.read(65536)
                queue.put_nowait((time.monotonic() + delay, data))
                if not data:
                    return
        except Exception:
            queue.put_nowait((time.monotonic() + delay, b""))

    async def pump_out():
        try:
            while True:
                due, data = await queue.get()
                wait = due - time.monotonic()
                if wait > 0:
                    await asyncio.sleep(wait)
                if not data:
                    if writer.can_write_eof():
                        writer.write_eof()
                    return
                writer.write(data)
                await writer.drain()
        except Exception:
            pass

    await asyncio.gather(pump_in(), pump_out())


async def main(a):
    delay = a.delay_ms / 1000.0

    async def handle(cr, cw):
        try:
            # The client's connect completes at once on loopback; over a real line its first
            # bytes would leave a round trip later. Connecting upstream after a full round trip
            # and then holding those bytes one more leg makes them reach the server when they
            # would have over the line, and the answer come back when it would have.
            await asyncio.sleep(2 * delay)
            sr, sw = await asyncio.open_connection(a.target_host, a.target_port)
        except Exception:
            cw.close()
            return
        try:
            await asyncio.gather(pipe(cr, sw, delay), pipe(sr, cw, delay))
        finally:
            for w in (cw, sw):
                try:
                    w.close()
                except Exception:
                    pass

    server = await asyncio.start_server(handle, "127.0.0.1", a.port, backlog=4096)
    print(server.sockets[0].getsockname()[1], flush=True)
    async with server:
        await server.serve_forever()


if __name__ == "__main__":
    p = argparse.ArgumentParser(description=__doc__)
    p.add_argument("--port", type=int, default=0)
    p.add_argument("--target-host", default="127.0.0.1")
    p.add_argument("--target-port", type=int, required=True)
    p.add_argument("--delay-ms", type=float, default=25.0)
    try:
        asyncio.run(main(p.parse_args()))
    except KeyboardInterrupt:
        pass
