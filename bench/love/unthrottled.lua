-- Shared by the LÖVE sides of the frame-rate benchmarks (copied beside their main.lua):
-- LÖVE's own love.run without its 1 ms sleep per frame, so both sides draw unthrottled, and the
-- frame count: countFrame(seconds) from love.draw skips 20 warm-up frames, then counts frames
-- for the given seconds, prints "love-fps F" and quits.
love.run = function()
  if love.load then love.load(love.arg.parseGameArguments(arg), arg) end
  if love.timer then love.timer.step() end
  return function()
    love.event.pump()
    for name, a, b, c, d, e, f in love.event.poll() do
      if name == "quit" then return a or 0 end
      love.handlers[name](a, b, c, d, e, f)
    end
    if love.timer then love.timer.step() end
    if love.graphics and love.graphics.isActive() then
      love.graphics.origin()
      love.graphics.clear(love.graphics.getBackgroundColor())
      if love.draw then love.draw() end
      love.graphics.present()
    end
  end
end

local frames, start = 0, nil

local function countFrame(seconds)
  frames = frames + 1
  if frames == 20 then start = love.timer.getTime() end
  if start and love.timer.getTime() - start >= seconds then
    io.write(string.format("love-fps %.1f\n", (frames - 20) / (love.timer.getTime() - start)))
    io.flush()
    love.event.quit()
  end
end

return {countFrame = countFrame}
