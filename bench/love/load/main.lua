-- Times love.graphics.newImage on images/000.png .. 199.png (decode and texture upload, one after
-- another on the main thread, as LÖVE loads images), prints "love-load-ms N" and quits.
function love.load()
  local start = love.timer.getTime()
  local images = {}
  for i = 0, 199 do
    images[#images + 1] = love.graphics.newImage(string.format("images/%03d.png", i))
  end
  local elapsed = love.timer.getTime() - start
  io.write(string.format("love-load-ms %.3f\n", elapsed * 1000))
  io.flush()
  love.event.quit()
end
