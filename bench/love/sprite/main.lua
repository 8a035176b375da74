-- Draws sprite.png N times a frame (N from the command line) at the same places as the engine's
-- side; after 20 warm-up frames counts frames for 2 seconds, prints "love-fps F" and quits.
local count, image = 1000, nil
local frames, start = 0, nil
function love.load(args)
  count = tonumber(args[1]) or count
  image = love.graphics.newImage("sprite.png")
end
function love.draw()
  for i = 1, count do
    love.graphics.draw(image, (i * 7) % 608, (i * 13) % 448)
  end
  frames = frames + 1
  if frames == 20 then start = love.timer.getTime() end
  if start and love.timer.getTime() - start >= 2 then
    io.write(string.format("love-fps %.1f\n", (frames - 20) / (love.timer.getTime() - start)))
    io.flush()
    love.event.quit()
  end
end

-- LÖVE's own love.run without its 1 ms sleep per frame, so both sides draw unthrottled.
function love.run()
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
