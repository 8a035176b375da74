-- The audio workloads of bench/audio_bench.cpp with love.audio, in the same order and sizes:
-- (a) play of a loaded one-shot with 63 sources busy (LÖVE's pool holds 64) and 100 setVolume
-- calls on a playing source, in microseconds per call; (b) process CPU per wall second while 64
-- one-shots start every second for 10 s, then the same with two sources streaming an Ogg Vorbis
-- track. Prints "key value" lines, then quits.
local function tone(seconds, frequency)
  local rate = 44100
  local data = love.sound.newSoundData(math.floor(seconds * rate), rate, 16, 1)
  for i = 0, data:getSampleCount() - 1 do
    data:setSample(i, 0.25 * math.sin(i * 2 * math.pi * frequency / rate))
  end
  return love.audio.newSource(data)
end

local function median(values)
  table.sort(values)
  return values[math.floor(#values / 2) + 1]
end

local function bench()
  local clock = love.timer.getTime
  local shot, loop = tone(0.25, 440), tone(1, 220)
  loop:setLooping(true)
  local busy = {}
  for i = 1, 63 do busy[i] = loop:clone() busy[i]:play() end
  io.write(string.format("busy %d\n", love.audio.getActiveSourceCount()))

  local times = {}
  for r = 1, 2000 do
    local t0 = clock()
    shot:play()
    times[r] = (clock() - t0) * 1e6
    shot:stop()
  end
  io.write(string.format("play-us %.3f\n", median(times)))

  local total = 0
  for r = 1, 200 do
    local t0 = clock()
    for i = 1, 100 do busy[1]:setVolume((i % 2) * 0.5 + 0.25) end
    total = total + (clock() - t0)
  end
  io.write(string.format("setter-us %.4f\n", total / 20000 * 1e6))
  for i = 1, 63 do busy[i]:stop() end

  local shots = {}
  for i = 1, 32 do shots[i] = shot:clone() end
  -- 600 frames of 1/60 s, each starting the one-shots due by then; process CPU per wall second.
  local function shotsForTenSeconds()
    local start, cpu, played = clock(), os.clock(), 0
    for frame = 0, 599 do
      local due = start + frame / 60
      local now = clock()
      if due > now then love.timer.sleep(due - now) end
      while played < math.floor(64 * frame / 60) do
        played = played + 1
        shots[played % 32 + 1]:play()
      end
    end
    return (os.clock() - cpu) / (clock() - start), played
  end
  io.write(string.format("cpu-per-wall %.5f\nplayed %d\n", shotsForTenSeconds()))
  io.flush()

  -- (m-a) the same while two sources stream the benchmark's Ogg Vorbis track (its path in QF_BENCH_TRACK).
  local path = os.getenv("QF_BENCH_TRACK")
  local file = path and io.open(path, "rb")
  if not file then return end
  local bytes = file:read("*a")
  file:close()
  local music = {}
  for i = 1, 2 do
    music[i] = love.audio.newSource(love.filesystem.newFileData(bytes, "track.ogg"), "stream")
    music[i]:setLooping(true)
    music[i]:play()
  end
  io.write(string.format("stream-cpu-per-wall %.5f\n", (shotsForTenSeconds())))
  for i = 1, 2 do music[i]:stop() end
  io.flush()
end

function love.run()
  bench()
  return function() return 0 end
end
