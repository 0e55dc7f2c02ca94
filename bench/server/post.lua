-- wrk script: every request is a POST of the SOAP envelope in $BENCH_BODY;
-- done() writes the run's figures as one JSON object to $BENCH_JSON.
local function slurp(path)
  local f = assert(io.open(path, "rb"))
  local s = f:read("*a")
  f:close()
  return s
end

wrk.method = "POST"
wrk.body = slurp(os.getenv("BENCH_BODY"))
wrk.headers["Content-Type"] = "text/xml; charset=utf-8"
wrk.headers["SOAPAction"] = '""'

-- Requests sent, counted per thread, so that requests never answered show up.
local threads = {}
function setup(thread)
  table.insert(threads, thread)
end

function init(args)
  sent = 0
  prepared = wrk.format()
end

function request()
  sent = sent + 1
  return prepared
end

function done(summary, latency, requests)
  local e = summary.errors
  local secs = summary.duration / 1e6
  local total_sent = 0
  for _, t in ipairs(threads) do
    total_sent = total_sent + t:get("sent")
  end
  local out = string.format(
    '{"requests": %d, "sent": %d, "unanswered": %d, "seconds": %.3f, "rate": %.1f, "bytes": %d, ' ..
    '"p50_ms": %.3f, "p90_ms": %.3f, "p99_ms": %.3f, "max_ms": %.3f, ' ..
    '"err_connect": %d, "err_read": %d, "err_write": %d, "err_timeout": %d, "non2xx": %d}',
    summary.requests, total_sent, total_sent - summary.requests, secs, summary.requests / secs, summary.bytes,
    latency:percentile(50) / 1000, latency:percentile(90) / 1000,
    latency:percentile(99) / 1000, latency.max / 1000,
    e.connect, e.read, e.write, e.timeout, e.status)
  local path = os.getenv("BENCH_JSON")
  if path then
    local f = assert(io.open(path, "w"))
    f:write(out, "\n")
    f:close()
  end
  io.write(out, "\n")
end
