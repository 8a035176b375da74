-- Prints "first-frame" once the first frame has been presented, then quits after 300 frames.
local frames = 0
function love.draw()
  frames = frames + 1
end
local reported = false
local oldPresent = love.graphics.present
function love.graphics.present()
  oldPresent()
  if not reported then
    reported = true
    io.write("first-frame\n")
    io.flush()
  end
  if frames >= 300 then love.event.quit() end
end
