-- The text workload of bench/text_bench.cpp for LÖVE: a 40-character string printed 500 times
-- per frame with DejaVu Sans at 16 pixels, unthrottled (the default loop's 1 ms sleep is left
-- out, as our side does not sleep either). Prints "fps N" over 300 frames after 30 warm-up frames.
local TEXT = "The quick brown fox jumps over a lazy dog"
TEXT = TEXT:sub(1, 40)
local font

function love.load()
  -- love.filesystem cannot open absolute paths: read the face with io and hand LÖVE the bytes
  local file = assert(io.open("/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf", "rb"))
  local bytes = file:read("*a")
  file:close()
  font = love.graphics.newFont(love.filesystem.newFileData(bytes, "DejaVuSans.ttf"), 16)
  love.graphics.setFont(font)
end

function love.draw()
  for i = 0, 499 do
    love.graphics.print(TEXT, (i * 7) % 300, 20 + (i % 28) * 16)
  end
end

function love.run()
  love.load()
  local frames, start = 0, nil
  return function()
    love.event.pump()
    for name in love.event.poll() do
      if name == "quit" then return 0 end
    end
    love.graphics.origin()
    love.graphics.clear(0, 0, 0)
    love.draw()
    love.graphics.present()
    frames = frames + 1
    if frames == 30 then start = love.timer.getTime() end
    if frames == 330 then
      io.write(string.format("fps %.2f\n", 300 / (love.timer.getTime() - start)))
      io.flush()
      return 0
    end
  end
end
